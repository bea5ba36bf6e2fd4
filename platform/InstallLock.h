// The lock that keeps two update runs off one installation, also when they
// come from two launchers started in the same folder.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

namespace platform {

// The lock file in the installation folder. It is left in place (empty) when
// the lock is released: removing it would let a third launcher lock a new
// file of that name while a second one still holds the old one. The name is
// not a game file's and not one of AtomicFile's temporary files, which an
// update run's clean-up removes.
inline constexpr const char* kInstallLockName = ".quenmor-launcher.lock";

// An advisory lock (flock; on Windows a byte-range lock) on the lock file, held for the life of the
// object. The system lets go of it when the process ends in any way, so a crashed launcher never
// leaves a stale lock behind. The lock file is not inherited by programs this one starts.
class InstallLock {
public:
    // The lock of `folder`, or nullptr when another holder has it: another
    // process, or another InstallLock of this process.
    //
    // A folder where no lock file can be made or locked (a read-only
    // installation, a file system without locks) gives an object that holds
    // nothing (Exclusive() is false): the player can still start the game
    // there, and an update run in such a folder fails on its own writes.
    // Raises EInOutError, naming the folder, when the folder does not exist,
    // is not a folder, or cannot be used for another reason.
    static std::unique_ptr<InstallLock> TryAcquire(const std::string& folder);

    ~InstallLock();
    InstallLock(const InstallLock&) = delete;
    InstallLock& operator=(const InstallLock&) = delete;

    // Whether this object keeps every other holder out.
    bool Exclusive() const { return handle_ != -1; }
    const std::string& Path() const { return path_; }

private:
    InstallLock(std::string path, std::intptr_t handle) : path_(std::move(path)), handle_(handle) {}

    std::string path_;
    std::intptr_t handle_ = -1; // the locked file, -1 when none
};

} // namespace platform
