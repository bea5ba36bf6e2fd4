// The installation lock on Windows: a byte-range lock on the lock file's
// first byte, through a handle this process does not pass on to programs it
// starts. Windows lets go of it when the handle is closed or the process
// ends in any way.
#include "InstallLock.h"

#include "Errors.h"
#include "WideText.h"

#include "WindowsApi.h"

namespace platform {
namespace {

[[noreturn]] void Fail(const std::string& folder, DWORD error) {
    throw EInOutError("Cannot lock the installation folder \"" + folder +
                      "\": " + SystemErrorText(error));
}

} // namespace

std::unique_ptr<InstallLock> InstallLock::TryAcquire(const std::string& folder) {
    const DWORD attributes = ::GetFileAttributesW(Wide(folder).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        Fail(folder, ::GetLastError());
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
        Fail(folder, ERROR_DIRECTORY);
    std::string path = folder;
    if (path.empty() || (path.back() != '\\' && path.back() != '/'))
        path += '\\';
    path += kInstallLockName;

    const std::wstring wide = Wide(path);
    constexpr DWORD kShare = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    HANDLE file = ::CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, kShare, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_ACCESS_DENIED) {
        // A lock file someone else made, or a read-only folder: a read
        // handle still takes the lock.
        file = ::CreateFileW(wide.c_str(), GENERIC_READ, kShare, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            const DWORD error = ::GetLastError();
            if (error == ERROR_ACCESS_DENIED || error == ERROR_FILE_NOT_FOUND ||
                error == ERROR_WRITE_PROTECT)
                return std::unique_ptr<InstallLock>(new InstallLock(path, -1));
            Fail(folder, error);
        }
    }
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_WRITE_PROTECT)
            return std::unique_ptr<InstallLock>(new InstallLock(path, -1));
        Fail(folder, error);
    }

    OVERLAPPED at{};
    if (!::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
        const DWORD error = ::GetLastError();
        ::CloseHandle(file);
        if (error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING)
            return nullptr;
        if (error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION)
            return std::unique_ptr<InstallLock>(new InstallLock(path, -1));
        Fail(folder, error);
    }
    return std::unique_ptr<InstallLock>(
        new InstallLock(path, reinterpret_cast<std::intptr_t>(file)));
}

InstallLock::~InstallLock() {
    // Closing the handle releases the lock.
    if (handle_ != -1)
        ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

} // namespace platform
