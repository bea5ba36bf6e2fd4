#include "TreeCheck.h"

#include "CopyJobs.h"
#include "PreviousManifest.h"
#include "PublishErrors.h"
#include "PublishFiles.h"
#include "PublishText.h"
#include "PublishedTree.h"
#include "Signing.h"

#include "BZip2.h"
#include "Files.h"
#include "Limits.h"
#include "LstFile.h"
#include "Signature.h"
#include "SignedManifest.h"
#include "Streams.h"
#include "Text.h"
#include "md5.h"

#include <algorithm>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

namespace publish {

namespace fs = std::filesystem;

namespace {

struct ReadTree {
    PreviousManifest manifest;
    std::string compressed;
    std::string signedProblem; // what launchers that trust the key would refuse
};

ReadTree ReadOut(const fs::path& given) {
    const fs::path out = Normalised(given);
    std::error_code error;
    if (!fs::is_directory(out, error))
        throw EUsageError("OUT " + QuotedPath(given) + " is not a folder");
    const fs::path copy = out / kManifestCopyName;
    if (!fs::exists(fs::symlink_status(copy, error)))
        throw EUsageError("OUT " + QuotedPath(given) + " holds no " + kManifestCopyName +
                          ": it is not a published tree");
    ReadTree tree;
    tree.compressed = ReadWholeFile(copy, kMaxManifestSize);
    try {
        tree.manifest = ReadManifest(tree.compressed, [&](const TListFile& list) {
            tree.signedProblem = signing::CheckSignedManifest(list, 0, DaysFromNow(0));
        });
    } catch (const std::exception& e) {
        throw EPublishError(Quoted(kManifestCopyName) + ": the manifest cannot be read (" +
                            e.what() + ")");
    }
    return tree;
}

std::string Field(const std::string& text) {
    return text.empty() ? "-" : Printable(text);
}

// One copy against its entry; the fault, or nothing.
std::optional<std::string> CheckCopy(const fs::path& out, const ListedFile& file,
                                     const std::function<bool()>& stop) {
    const std::string name = file.relative + kCopySuffix;
    const fs::path path = out / platform::FsPath(name);
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    if (!fs::exists(status))
        return Quoted(name) + ": the copy is missing";
    if (!fs::is_regular_file(status))
        return Quoted(name) + ": not a file";
    const std::uint64_t size = fs::file_size(path, error);
    if (error)
        return SystemError("Cannot read", path, error);
    if (size != file.copySize)
        return Quoted(name) + ": the copy has " + std::to_string(size) +
               " bytes, the manifest lists " + std::to_string(file.copySize);
    // What may come out: the listed content, or what bzip2 can make of the copy.
    const std::int64_t bound = file.contentSize
                                   ? static_cast<std::int64_t>(*file.contentSize)
                                   : limits::MaxContentOf(static_cast<std::int64_t>(file.copySize));
    TMD5 md5;
    TSHA256 sha256;
    std::uint64_t content = 0;
    try {
        TFileStream stream(platform::PathText(path), TFileStream::Mode::fmOpenRead);
        TBZDecompressionStream bz(stream);
        std::unique_ptr<char[]> buffer(new char[kBlockSize]);
        while (const std::size_t n = bz.Read(buffer.get(), kBlockSize)) {
            if (stop())
                throw EPublishError("Interrupted");
            content += n;
            if (content > static_cast<std::uint64_t>(bound))
                return Quoted(name) + ": the content is longer than the " + std::to_string(bound) +
                       " bytes " +
                       (file.contentSize ? "the manifest lists" : "such a copy can hold");
            md5.Update(buffer.get(), n);
            sha256.Update(buffer.get(), n);
        }
        if (!bz.StreamEnded())
            return Quoted(name) + ": the copy is cut off";
    } catch (const EBZip2Error& e) {
        return Quoted(name) + ": the copy cannot be unpacked (bzip2 " + e.what() + ")";
    } catch (const EInOutError& e) {
        return Quoted(name) + ": " + e.what();
    }
    if (file.contentSize && content != *file.contentSize)
        return Quoted(file.relative) + ": the content has " + std::to_string(content) +
               " bytes, the manifest lists " + std::to_string(*file.contentSize);
    if (const std::string got = md5.FinalText(); got != file.digest)
        return Quoted(file.relative) + ": the content's MD5 is " + got + ", the manifest lists " +
               Field(file.digest);
    if (const std::string got = sha256.FinalText(); !file.sha256.empty() && got != file.sha256)
        return Quoted(file.relative) + ": the content's SHA-256 is " + got +
               ", the manifest lists " + file.sha256;
    return std::nullopt;
}

} // namespace

void ListTree(const fs::path& given, std::ostream& out) {
    const ReadTree tree = ReadOut(given);
    const PreviousManifest& manifest = tree.manifest;
    std::error_code error;
    const bool signedTree =
        fs::exists(fs::symlink_status(Normalised(given) / kSignatureName, error));
    out << "Revision "
        << (manifest.revision ? std::to_string(*manifest.revision) : std::string("(none)"))
        << " of " << QuotedPath(given) << ", " << (signedTree ? "signed" : "unsigned") << "\n";
    out << "settings\n";
    for (const auto& [name, value] : manifest.settings)
        out << "  " << Printable(platform::AnsiToUtf8(name)) << " = "
            << Printable(platform::AnsiToUtf8(value)) << "\n";
    out << "hosts\n";
    for (const auto& [address, name] : manifest.hosts)
        out << "  " << Printable(address) << " " << Printable(name) << "\n";
    // One line per file, fields apart by tabs: path, content size, MD5,
    // SHA-256, copy size ("-" where the line has none).
    for (const char* section : {"self", "files_critical", "files_normal"}) {
        out << section << "\n";
        for (const ListedFile& file : manifest.files)
            if (file.section == section)
                out << "  " << Printable(file.relative) << "\t"
                    << (file.contentSize ? std::to_string(*file.contentSize) : "-") << "\t"
                    << Field(file.digest) << "\t" << Field(file.sha256) << "\t" << file.copySize
                    << "\n";
    }
    if (!manifest.unusable.empty()) {
        out << "lines a launcher leaves out\n";
        for (const std::string& line : manifest.unusable)
            out << "  " << Printable(platform::AnsiToUtf8(line)) << "\n";
    }
}

VerifySummary VerifyTree(const fs::path& given, unsigned jobs, const std::atomic<bool>* cancel,
                         const std::function<void(const Progress&)>& onProgress) {
    const ReadTree tree = ReadOut(given);
    const fs::path out = Normalised(given);
    const PreviousManifest& manifest = tree.manifest;
    VerifySummary summary;
    if (!manifest.revision)
        throw EPublishError(Quoted(kManifestCopyName) + ": the manifest has no valid revision");
    summary.revision = *manifest.revision;
    if (!manifest.unusable.empty())
        throw EPublishError(Quoted(kManifestCopyName) + ": the line " +
                            Quoted(platform::AnsiToUtf8(manifest.unusable.front())) +
                            " is not one a launcher can use");

    std::error_code error;
    const fs::path signature = out / kSignatureName;
    if (fs::exists(fs::symlink_status(signature, error))) {
        const std::string text = ReadWholeFile(signature, 4096);
        const std::optional<signing::SignatureFile> parsed = signing::ParseSignatureFile(text);
        if (!parsed)
            throw EPublishError(Quoted(kSignatureName) + ": not a signature file");
        const auto* data = reinterpret_cast<const unsigned char*>(tree.compressed.data());
        if (signing::Verify(text, {parsed->key}, data, tree.compressed.size()) !=
            signing::Verdict::Good)
            throw EPublishError(Quoted(kSignatureName) + ": the signature does not hold over " +
                                kManifestCopyName +
                                " (the manifest was changed after it was "
                                "signed)");
        if (!tree.signedProblem.empty())
            throw EPublishError(Quoted(kManifestCopyName) +
                                ": launchers that trust its key refuse it: " + tree.signedProblem);
        summary.signingKey = signing::KeyText(parsed->key);
        summary.expires = manifest.expires;
    }

    const std::vector<ListedFile>& files = manifest.files;
    summary.files = files.size();
    Progress progress;
    progress.total = files.size();
    for (const ListedFile& file : files) {
        progress.bytesTotal += file.copySize;
        summary.copyBytes += file.copySize;
        summary.contentBytes += file.contentSize.value_or(0);
    }
    if (jobs == 0)
        jobs = std::max(1u, std::thread::hardware_concurrency());
    // A fault stops the checks of the files after it, not of those before,
    // so that the one named is the first in manifest order.
    std::atomic<std::size_t> next{0};
    std::atomic<std::size_t> faultAt{files.size()};
    std::atomic<bool> broken{false}; // something other than a fault stops them all
    std::mutex mutex;                // guards what follows, and the calls of onProgress
    std::optional<std::pair<std::size_t, std::string>> fault;
    std::exception_ptr unexpected;
    const auto work = [&] {
        for (;;) {
            const std::size_t i = next.fetch_add(1);
            if (i >= faultAt.load() || broken.load())
                return;
            const auto stop = [&] {
                return (cancel && cancel->load()) || broken.load() || i > faultAt.load();
            };
            try {
                std::optional<std::string> found = CheckCopy(out, files[i], stop);
                const std::lock_guard lock(mutex);
                if (found) {
                    if (!fault || i < fault->first) {
                        fault.emplace(i, std::move(*found));
                        faultAt = i;
                    }
                    continue;
                }
                ++progress.done;
                progress.bytesDone += files[i].copySize;
                progress.path = files[i].relative;
                progress.finished = true;
                if (onProgress)
                    onProgress(progress);
            } catch (...) {
                if (i > faultAt.load())
                    continue; // stopped by a fault before it
                const std::lock_guard lock(mutex);
                if (!unexpected)
                    unexpected = std::current_exception();
                broken = true;
                return;
            }
        }
    };
    RunOnThreads(static_cast<unsigned>(std::min<std::size_t>(jobs, files.size())), work);
    // A fault found is the answer, not the stop it caused in the others.
    if (fault && !unexpected)
        throw EPublishError(fault->second);
    if (unexpected)
        std::rethrow_exception(unexpected);
    if (cancel && cancel->load())
        throw EPublishError("Interrupted");
    return summary;
}

} // namespace publish
