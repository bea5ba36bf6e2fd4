#include "PublishFiles.h"

#include "PublishErrors.h"
#include "PublishText.h"
#include "PublishedTree.h"

#include "Files.h"

#include <cerrno>
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

StagingGuard::~StagingGuard() {
    if (!path_.empty()) {
        std::error_code error;
        fs::remove_all(path_, error);
    }
}

} // namespace publish
