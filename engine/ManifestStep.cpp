#include "ManifestStep.h"

#include "Mirrors.h"
#include "Text.h"

#include "Files.h"
#include "Http.h"
#include "Limits.h"
#include "LstFile.h"
#include "Misc.h"
#include "SignedManifest.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <system_error>

namespace {

void RemoveFile(const std::string& path) {
    std::error_code error;
    std::filesystem::remove(platform::FsPath(path), error);
}

// The bounds of the manifest, which no entry lists.
limits::TSizeLimit ManifestLimit(std::int64_t bytes, const char* what) {
    return {bytes, "the " + std::to_string(bytes >> 20) + " MiB " + what};
}

} // namespace

TManifestStep::TManifestStep(TNotifier& notifier, TFileTransfer& transfer, Settings settings)
    : notifier_(notifier), transfer_(transfer), settings_(std::move(settings)) {}

std::optional<TManifest> TManifestStep::Take() {
    const std::string manifest = settings_.folder + "files.lst";
    const bool isSigned = !settings_.trustedKeys.empty();
    std::vector<std::string> bases{settings_.updateUrl};
    if (!settings_.updateUrl.empty())
        for (const std::string& mirror : settings_.mirrors)
            if (std::find(bases.begin(), bases.end(), mirror) == bases.end())
                bases.push_back(mirror);
    bool fetched = false;
    for (std::size_t k = 0; k < bases.size() && !fetched; ++k) {
        base_ = bases[k];
        fetched = Fetched(k + 1 < bases.size());
        if (!fetched && k + 1 < bases.size())
            notifier_.ShowNote(fetchFailure_ + "; the manifest is asked of the mirror " +
                               bases[k + 1]);
    }
    if (!fetched) {
        RemoveFile(manifest);
        return std::nullopt;
    }
    if (isSigned && !SignatureHolds()) {
        // Nothing of a manifest without a good signature is read.
        RemoveFile(manifest + ".bz2");
        RemoveFile(manifest);
        return std::nullopt;
    }
    if (!Unpacked())
        return std::nullopt;

    const TListFile list(manifest);
    if (isSigned) {
        const std::string cause =
            signing::CheckSignedManifest(list, settings_.floor,
                                         std::chrono::duration_cast<std::chrono::seconds>(
                                             std::chrono::system_clock::now().time_since_epoch())
                                             .count());
        if (!cause.empty()) {
            notifier_.ShowCause(cause);
            RemoveFile(manifest);
            return std::nullopt;
        }
    }
    TManifest taken;
    taken.revision = StrToInt(list.GetValue("settings", "Rev"));
    if (isSigned && taken.revision > settings_.trustedRevision) {
        // Verified: no older signed tree is taken here from now on, whether
        // or not this run gets through.
        settings_.trustedRevision = taken.revision;
        notifier_.StoreTrustedRevision(taken.revision);
    }
    taken.self = list.GetSection("self");
    taken.critical = list.GetSection("files_critical");
    taken.normal = list.GetSection("files_normal");
    taken.modHosts = StrToInt(list.GetValue("settings", "ModHosts")) == 1;
    if (taken.modHosts)
        taken.hosts = list.GetSection("hosts");
    if (const std::string chunks = list.GetValue("settings", kChunksSetting); !chunks.empty()) {
        taken.chunks = ParseChunkSizes(chunks);
        if (!taken.chunks)
            notifier_.ShowNote("the manifest's chunk sizes '" + platform::AnsiToUtf8(chunks) +
                               "' are not ones this launcher can use: changed files are fetched "
                               "whole");
    }
    taken.mirrors = ManifestMirrors(list, settings_.updateUrl);
    taken.lineBytesPerSecond = lineBytesPerSecond_;
    taken.base = base_;
    return taken;
}

bool TManifestStep::Fetched(bool another) {
    // An empty address names no server: the list cannot be fetched.
    if (settings_.updateUrl.empty()) {
        notifier_.ShowCause("no update address: UpdatesUrl is empty");
        return false;
    }
    const auto started = std::chrono::steady_clock::now();
    const TFileTransfer::Downloaded downloaded =
        transfer_.Download(base_ + "files.lst.bz2", settings_.folder + "files.lst.bz2", true,
                           ManifestLimit(limits::kManifestCopy, "a manifest's copy may take"));
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
    std::error_code error;
    const auto bytes =
        std::filesystem::file_size(platform::FsPath(settings_.folder + "files.lst.bz2"), error);
    // A body large enough to span several round trips tells the line's rate
    // from its own bytes; a smaller one arrives at once, and only the whole
    // request, its setup and round trip included, can be timed.
    constexpr std::uintmax_t kBodyTimed = 64 * 1024;
    if (!error && bytes >= kBodyTimed && downloaded.bodySeconds > 0)
        lineBytesPerSecond_ = static_cast<double>(bytes) / downloaded.bodySeconds;
    else if (!error && took.count() > 0)
        lineBytesPerSecond_ = static_cast<double>(bytes) / took.count();
    fetchFailure_ = downloaded.failure;
    // With a mirror left to ask, an answer that is no success counts as none.
    if (another && !downloaded.failure.empty()) {
        RemoveFile(settings_.folder + "files.lst.bz2");
        return false;
    }
    if (!downloaded.opened)
        notifier_.ShowCause(downloaded.failure);
    return downloaded.opened;
}

bool TManifestStep::Unpacked() {
    const std::string manifest = settings_.folder + "files.lst";
    notifier_.ShowStatus("");
    try {
        transfer_.Unpack(manifest + ".bz2", manifest, {}, {},
                         ManifestLimit(limits::kManifestText, "a manifest may take"));
    } catch (const std::exception& e) {
        notifier_.ShowStatus(status::kFailed);
        RemoveFile(manifest);
        // An error page in the manifest's place is the transfer's failure;
        // that it does not unpack says nothing more.
        notifier_.ShowCause(fetchFailure_.empty() ? "files.lst.bz2: " + DescribedError(e)
                                                  : fetchFailure_);
    }
    std::error_code error;
    return std::filesystem::is_regular_file(platform::FsPath(manifest), error);
}

bool TManifestStep::SignatureHolds() {
    const std::string url = base_ + signing::kSignatureFileName;
    // The signature comes on the run's own connection, right after the
    // manifest, into memory; anything longer than a signature file is not
    // one, and is not fetched to its end.
    struct TooLong {};
    std::string text;
    TFetchSink sink;
    sink.restart = [&] { text.clear(); };
    sink.data = [&](const char* data, std::size_t size) {
        if (text.size() + size > signing::kMaxSignatureFileSize)
            throw TooLong{};
        text.append(data, size);
    };
    TFetchResult result;
    try {
        result = transfer_.Fetch(url, sink);
    } catch (const TooLong&) {
        notifier_.ShowCause("unreadable signature: " + url + " is longer than a signature file");
        return false;
    }
    if (!result.opened || result.status != 200) {
        notifier_.ShowCause("no signature: " + url +
                            (result.opened ? " answered HTTP " + std::to_string(result.status)
                                           : std::string(" could not be fetched")));
        return false;
    }
    const platform::MappedFile manifest(settings_.folder + "files.lst.bz2");
    const signing::Verdict verdict =
        signing::Verify(text, settings_.trustedKeys, manifest.data(), manifest.size());
    switch (verdict) {
    case signing::Verdict::Good:
        return true;
    case signing::Verdict::Unreadable:
        notifier_.ShowCause("unreadable signature: " + url + " holds no signature file");
        break;
    case signing::Verdict::UntrustedKey:
        notifier_.ShowCause("untrusted key: " + url + " is signed with the key " +
                            signing::KeyText(signing::ParseSignatureFile(text)->key) +
                            ", which this installation does not trust");
        break;
    case signing::Verdict::BadSignature:
        notifier_.ShowCause("bad signature: " + url + " does not match " + base_ + "files.lst.bz2");
        break;
    }
    return false;
}
