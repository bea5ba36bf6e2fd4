#include "PublishFiles.h"

#include "PublishErrors.h"
#include "PublishText.h"
#include "PublishedTree.h"

#include "Files.h"

#include <cerrno>
#include <memory>
#include <random>
#include <string>
#include <system_error>
#include <utility>

namespace publish {

namespace fs = std::filesystem;

InputFile::InputFile(fs::path path) : path_(std::move(path)) {
    file_ = platform::OpenFile(platform::PathText(path_), "rb");
    if (!file_)
        throw EPublishError(SystemError("Cannot open", path_, errno));
    std::error_code error;
    const fs::file_status status = fs::status(path_, error);
    if (error) {
        std::fclose(file_);
        throw EPublishError(SystemError("Cannot read", path_, error));
    }
    if (!fs::is_regular_file(status)) {
        std::fclose(file_);
        throw EPublishError("Not a regular file: " + QuotedPath(path_));
    }
    std::setvbuf(file_, nullptr, _IONBF, 0); // reads come in large blocks already
}

InputFile::~InputFile() {
    std::fclose(file_);
}

std::size_t InputFile::Read(char* buffer, std::size_t size) {
    const std::size_t got = std::fread(buffer, 1, size, file_);
    if (got < size && std::ferror(file_))
        throw EPublishError(SystemError("Cannot read", path_, errno));
    return got;
}

OutputFile::OutputFile(fs::path path, bool ownerOnly) : path_(std::move(path)) {
    file_ = platform::CreateNewFile(platform::PathText(path_), ownerOnly);
    if (!file_)
        throw EPublishError(SystemError("Cannot create", path_, errno));
    std::setvbuf(file_, nullptr, _IONBF, 0); // writes come in large blocks already
}

OutputFile::~OutputFile() {
    if (file_)
        std::fclose(file_);
}

void OutputFile::Write(const char* data, std::size_t size) {
    if (size > 0 && std::fwrite(data, 1, size, file_) != size)
        throw EPublishError(SystemError("Cannot write", path_, errno));
    written_ += size;
}

void OutputFile::Finish() {
    if (!platform::FlushToDisk(file_))
        throw EPublishError(SystemError("Cannot write", path_, errno));
    std::FILE* file = file_;
    file_ = nullptr;
    if (std::fclose(file) != 0)
        throw EPublishError(SystemError("Cannot write", path_, errno));
}

void TakeOverFile(const fs::path& old, const fs::path& target) {
    std::error_code error;
    fs::create_hard_link(old, target, error);
    if (error) {
        error.clear();
        fs::copy_file(old, target, error);
        if (error)
            throw EPublishError(SystemError("Cannot copy", old, error));
    }
}

void SyncFolder(const fs::path& folder) {
    platform::SyncFolder(platform::PathText(folder));
}

bool IsWithin(const fs::path& inner, const fs::path& outer) {
    auto i = inner.begin();
    for (auto o = outer.begin(); o != outer.end(); ++o, ++i)
        if (i == inner.end() || *i != *o)
            return false;
    return true;
}

fs::path Normalised(const fs::path& path) {
    fs::path result = fs::absolute(path).lexically_normal();
    if (!result.has_filename() && result.has_relative_path())
        result = result.parent_path();
    return result;
}

std::string ReadWholeFile(const fs::path& path, std::size_t limit) {
    InputFile in(path);
    std::string bytes;
    std::unique_ptr<char[]> buffer(new char[kBlockSize]);
    while (const std::size_t n = in.Read(buffer.get(), kBlockSize)) {
        if (bytes.size() + n > limit)
            throw EPublishError(QuotedPath(path) + " is too large");
        bytes.append(buffer.get(), n);
    }
    return bytes;
}

fs::path ResolveOut(const fs::path& given, bool& exists) {
    std::error_code error;
    fs::path out = Normalised(given);
    const fs::file_status link = fs::symlink_status(out, error);
    exists = fs::exists(fs::status(out, error));
    if (fs::is_symlink(link) && !exists)
        throw EUsageError("OUT " + QuotedPath(given) + " is a broken symbolic link");
    out = exists ? fs::canonical(out, error) : fs::weakly_canonical(out, error);
    if (error)
        throw EUsageError(SystemError("Cannot read OUT", given, error));
    if (!out.has_relative_path())
        throw EUsageError("OUT cannot be the root folder");
    return out;
}

void WarnOfLeftovers(const fs::path& out, std::vector<std::string>& warnings) {
    const std::string outName = platform::PathText(out.filename());
    std::error_code error;
    for (fs::directory_iterator it(out.parent_path(), error), end; !error && it != end;
         it.increment(error)) {
        const std::string name = platform::PathText(it->path().filename());
        if (name.rfind(outName + kStagingInfix, 0) == 0 ||
            name.rfind(outName + kAsideInfix, 0) == 0)
            warnings.push_back("The folder " + QuotedPath(it->path()) +
                               " is left from an interrupted run; remove it when no other "
                               "publishing runs.");
    }
}

fs::path MakeUniqueFolder(const fs::path& base, const char* infix) {
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device device;
    std::mt19937 random(device());
    std::uniform_int_distribution<std::size_t> pick(0, sizeof kLetters - 2);
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = platform::PathText(base) + infix;
        for (int k = 0; k < 8; ++k)
            name += kLetters[pick(random)];
        std::error_code error;
        if (fs::create_directory(platform::FsPath(name), error))
            return platform::FsPath(name);
        if (error)
            throw EPublishError(
                SystemError("Cannot create the folder", platform::FsPath(name), error));
    }
    throw EPublishError("Cannot create a staging folder beside " + QuotedPath(base));
}

fs::path SwapIn(const fs::path& staging, const fs::path& out) {
    std::error_code error;
    if (!fs::exists(fs::symlink_status(out, error))) {
        fs::rename(staging, out, error);
        if (error)
            throw EPublishError(SystemError("Cannot move the new tree to", out, error));
        return {};
    }
    const int exchange =
        platform::ExchangeFolders(platform::PathText(staging), platform::PathText(out));
    if (exchange == 0)
        return staging; // it holds the old tree now
    if (exchange != ENOTSUP)
        throw EPublishError(SystemError("Cannot put the new tree in place of", out, exchange));
    // No exchange on this file system: move OUT aside, then the new tree in.
    const fs::path aside = MakeUniqueFolder(out, kAsideInfix);
    fs::remove(aside, error);
    fs::rename(out, aside, error);
    if (error)
        throw EPublishError(SystemError("Cannot move aside", out, error));
    fs::rename(staging, out, error);
    if (error) {
        std::error_code back;
        fs::rename(aside, out, back);
        throw EPublishError(SystemError("Cannot move the new tree to", out, error));
    }
    return aside;
}

void FinishStaged(const fs::path& staging, const fs::path& out,
                  const std::vector<fs::path>& folders, const std::atomic<bool>* cancel,
                  StagingGuard& guard, std::vector<std::string>& warnings) {
    for (const fs::path& folder : folders)
        SyncFolder(folder);
    SyncFolder(staging);
    if (cancel && cancel->load())
        throw EPublishError("Interrupted");
    const fs::path old = SwapIn(staging, out);
    guard.Release();
    SyncFolder(out.parent_path());
    if (!old.empty()) {
        std::error_code error;
        fs::remove_all(old, error);
        if (error)
            warnings.push_back(
                SystemError("The previous tree was replaced but cannot be removed:", old, error));
    }
}

StagingGuard::~StagingGuard() {
    if (!path_.empty()) {
        std::error_code error;
        fs::remove_all(path_, error);
    }
}

} // namespace publish
