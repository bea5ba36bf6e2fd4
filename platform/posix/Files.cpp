#include "Files.h"

#include "Errors.h"
#include "Text.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

constexpr std::string_view kTempPattern = "XXXXXX";
static_assert(kTempPattern.size() == kTempFileUniqueLength);

mode_t CurrentUmask() {
    // Reading the mask through umask() would change it for a moment under
    // other threads; the kernel reports it here instead.
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("Umask:", 0) == 0)
            return static_cast<mode_t>(std::stoul(line.substr(6), nullptr, 8));
    return 022;
}

int Descriptor(std::intptr_t handle) {
    return static_cast<int>(handle);
}

std::string ErrorFor(const std::string& what, const std::string& path, int error) {
    return what + " \"" + path + "\": " + std::strerror(error);
}

} // namespace

std::filesystem::path FsPath(std::string_view localPath) {
    return std::filesystem::path(localPath);
}

std::string PathText(const std::filesystem::path& path) {
    return path.string();
}

std::string CurrentFolder() {
    std::string folder = std::filesystem::current_path().string();
    if (folder.empty() || folder.back() != kPathSeparator)
        folder += kPathSeparator;
    return folder;
}

std::string ResolveCaseInsensitive(const std::string& base, const std::string& relative) {
    namespace fs = std::filesystem;
    std::error_code error;
    const std::string exact = base + relative;
    if (fs::exists(fs::symlink_status(exact, error)))
        return exact;
    std::string resolved = base;
    std::size_t start = 0;
    while (start <= relative.size()) {
        std::size_t end = relative.find(kPathSeparator, start);
        if (end == std::string::npos)
            end = relative.size();
        const std::string part = relative.substr(start, end - start);
        const std::string tail = end < relative.size() ? relative.substr(end) : std::string();
        if (!fs::exists(fs::symlink_status(resolved + part, error))) {
            // The first name in sorted order wins when several differ only in case.
            const std::string folded = FoldCase(part);
            std::string match;
            for (fs::directory_iterator it(resolved.empty() ? "." : resolved, error), last;
                 !error && it != last; it.increment(error)) {
                const std::string name = it->path().filename().string();
                if (FoldCase(name) == folded && (match.empty() || name < match))
                    match = name;
            }
            if (match.empty())
                return resolved + part + tail;
            resolved += match;
        } else {
            resolved += part;
        }
        if (end >= relative.size())
            return resolved;
        resolved += kPathSeparator;
        start = end + 1;
    }
    return resolved;
}

MappedFile::MappedFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
        const auto length = static_cast<std::size_t>(st.st_size);
        void* map = ::mmap(nullptr, length, PROT_READ, MAP_PRIVATE, fd, 0);
        if (map != MAP_FAILED) {
            ::madvise(map, length, MADV_SEQUENTIAL);
            data_ = static_cast<const unsigned char*>(map);
            size_ = length;
        }
    }
    ::close(fd);
}

MappedFile::~MappedFile() {
    if (data_)
        ::munmap(const_cast<unsigned char*>(data_), size_);
}

namespace {

// Creates a temporary file in the folder of `path`; returns its descriptor.
int CreateTempBeside(const std::string& path, std::string& tempPath) {
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    std::string pattern = (folder.empty() ? std::string(".") : folder.string()) + "/" +
                          std::string(kTempFilePrefix) + std::string(kTempPattern);
    const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0)
        throw EInOutError(ErrorFor("Cannot create a temporary file for", path, errno));
    tempPath = pattern;
    return fd;
}

} // namespace

std::string NewTempFileBeside(const std::string& path) {
    std::string tempPath;
    ::close(CreateTempBeside(path, tempPath));
    return tempPath;
}

AtomicFile::AtomicFile(std::string target) : target_(std::move(target)) {
    handle_ = CreateTempBeside(target_, tempPath_);
}

AtomicFile::~AtomicFile() {
    Discard();
}

void AtomicFile::Write(const void* data, std::size_t size) {
    const auto* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(Descriptor(handle_), p, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throw EInOutError(ErrorFor("Cannot write", target_, errno));
        }
        p += n;
        size -= static_cast<std::size_t>(n);
        written_ += n;
    }
#ifdef __linux__
    // The disk starts on what is written while more is made, so that the
    // flush that seals the file finds little left to do.
    constexpr std::int64_t kWriteBehind = std::int64_t{8} << 20;
    if (written_ - writtenBehind_ >= kWriteBehind) {
        (void)::sync_file_range(Descriptor(handle_), writtenBehind_, written_ - writtenBehind_,
                                SYNC_FILE_RANGE_WRITE);
        writtenBehind_ = written_;
    }
#endif
}

void AtomicFile::Seal() {
    if (handle_ < 0)
        return;
    const int fd = Descriptor(handle_);
    struct stat old {};
    mode_t mode = static_cast<mode_t>(0666 & ~CurrentUmask());
    // A link at the target's name is replaced like a file, and lends the new
    // file nothing of what it points at.
    if (::lstat(target_.c_str(), &old) == 0 && S_ISREG(old.st_mode)) {
        mode = old.st_mode & 07777;
        // Run by the superuser, keep the file owned by whoever owned it.
        if (::geteuid() == 0)
            (void)::fchown(fd, old.st_uid, old.st_gid);
    }
    if (::fchmod(fd, mode) != 0 || ::fsync(fd) != 0)
        throw EInOutError(ErrorFor("Cannot write", target_, errno));
    handle_ = -1;
    if (::close(fd) != 0) {
        const int error = errno;
        ::unlink(tempPath_.c_str());
        tempPath_.clear();
        throw EInOutError(ErrorFor("Cannot write", target_, error));
    }
}

void AtomicFile::Commit() {
    if (tempPath_.empty())
        throw EInOutError("Cannot replace \"" + target_ + "\": its new content is gone");
    Seal();
    if (::rename(tempPath_.c_str(), target_.c_str()) != 0) {
        const int error = errno;
        ::unlink(tempPath_.c_str());
        tempPath_.clear();
        throw EInOutError(ErrorFor("Cannot replace", target_, error));
    }
    tempPath_.clear();
    // Make the rename itself durable.
    const std::filesystem::path folder = std::filesystem::path(target_).parent_path();
    const int dirFd =
        ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
}

void AtomicFile::Discard() {
    if (handle_ >= 0) {
        ::close(Descriptor(handle_));
        handle_ = -1;
    }
    if (!tempPath_.empty()) {
        ::unlink(tempPath_.c_str());
        tempPath_.clear();
    }
}

std::FILE* OpenFile(const std::string& path, const char* mode) {
    return std::fopen(path.c_str(), mode);
}

int SeekFile(std::FILE* file, std::int64_t offset, int whence) {
    return ::fseeko(file, static_cast<off_t>(offset), whence);
}

std::int64_t TellFile(std::FILE* file) {
    return static_cast<std::int64_t>(::ftello(file));
}

std::FILE* CreateNewFile(const std::string& path, bool ownerOnly) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                          ownerOnly ? 0600 : 0666);
    if (fd < 0)
        return nullptr;
    std::FILE* file = ::fdopen(fd, "wb");
    if (!file) {
        const int error = errno;
        ::close(fd);
        ::unlink(path.c_str());
        errno = error;
    }
    return file;
}

bool FlushToDisk(std::FILE* file) {
    return std::fflush(file) == 0 && ::fsync(::fileno(file)) == 0;
}

void SyncFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

int ExchangeFolders(const std::string& first, const std::string& second) {
    if (::renameat2(AT_FDCWD, first.c_str(), AT_FDCWD, second.c_str(), RENAME_EXCHANGE) == 0)
        return 0;
    return errno == EINVAL || errno == ENOSYS ? ENOTSUP : errno;
}

bool StaysInside(const std::string& base, const std::string& path) {
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path root = fs::canonical(base, error);
    if (error)
        return false;
    fs::path folder = fs::path(path).parent_path();
    while (!folder.empty() && !fs::exists(fs::symlink_status(folder, error)))
        folder = folder.parent_path();
    const fs::path real = fs::canonical(folder.empty() ? fs::path(".") : folder, error);
    if (error)
        return false;
    return std::mismatch(root.begin(), root.end(), real.begin(), real.end()).first == root.end();
}

bool IsTerminal(std::FILE* stream) {
    return ::isatty(::fileno(stream)) == 1;
}

std::string LastErrorText() {
    return std::strerror(errno);
}

} // namespace platform
