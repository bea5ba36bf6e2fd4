#include "InstallLock.h"

#include "Errors.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

[[noreturn]] void Fail(const std::string& folder, int error) {
    throw EInOutError("Cannot lock the installation folder \"" + folder +
                      "\": " + std::strerror(error));
}

// The file system or its permissions allow no lock here.
bool CannotLockHere(int error) {
    return error == EACCES || error == EPERM || error == EROFS || error == ENOLCK ||
           error == EOPNOTSUPP;
}

} // namespace

std::unique_ptr<InstallLock> InstallLock::TryAcquire(const std::string& folder) {
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0)
        Fail(folder, errno);
    if (!S_ISDIR(info.st_mode))
        Fail(folder, ENOTDIR);
    std::string path = folder;
    if (path.empty() || path.back() != '/')
        path += '/';
    path += kInstallLockName;

    int fd;
    do {
        fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY, 0644);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0 && CannotLockHere(errno)) {
        // A lock file someone else made, or a read-only folder: flock needs
        // no write access, so an existing file still serves.
        do {
            fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
        } while (fd < 0 && errno == EINTR);
        if (fd < 0 && (errno == ENOENT || CannotLockHere(errno)))
            return std::unique_ptr<InstallLock>(new InstallLock(path, -1));
    }
    if (fd < 0)
        Fail(folder, errno);

    int result;
    do {
        result = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        const int error = errno;
        ::close(fd);
        if (error == EWOULDBLOCK)
            return nullptr;
        if (CannotLockHere(error))
            return std::unique_ptr<InstallLock>(new InstallLock(path, -1));
        Fail(folder, error);
    }
    return std::unique_ptr<InstallLock>(new InstallLock(path, fd));
}

InstallLock::~InstallLock() {
    // Closing the only descriptor of the file releases the lock.
    if (handle_ >= 0)
        ::close(static_cast<int>(handle_));
}

} // namespace platform
