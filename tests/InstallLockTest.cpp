// The installation lock: one holder at a time, within this process and
// across processes; released when the holder goes, also by a kill; folders
// that cannot hold a lock.
#include "InstallLock.h"
#include "ChildProcess.h"
#include "Errors.h"
#include "Files.h"
#include "Process.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

#ifndef _WIN32
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>
#endif

using platform::InstallLock;
using testing_support::Exists;
using testing_support::TempDir;
using testing_support::WriteFile;
namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

#ifndef _WIN32
// Waits at most `limit` for the child to end; kills it when it does not.
// Returns its wait status, or -1 when it had to be killed.
int ReapChild(pid_t child, std::chrono::seconds limit) {
    const auto until = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (std::chrono::steady_clock::now() < until) {
        const pid_t got = ::waitpid(child, &status, WNOHANG);
        if (got == child)
            return status;
        if (got < 0)
            return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ::kill(child, SIGKILL);
    ::waitpid(child, &status, 0);
    return -1;
}

// What TryAcquire gave a child process.
enum ChildResult { kNothingHeld = 10, kRefused = 11, kExclusive = 12, kRaised = 13 };

int ClassifyTryAcquire(const std::string& folder) {
    try {
        const auto lock = InstallLock::TryAcquire(folder);
        if (!lock)
            return kRefused;
        return lock->Exclusive() ? kExclusive : kNothingHeld;
    } catch (const EInOutError&) {
        return kRaised;
    }
}

// Runs TryAcquire in a child process, as an ordinary user when this process is
// root (root may write anywhere), and returns what it got.
int TryAcquireAsUser(const std::string& folder) {
    const pid_t child = ::fork();
    if (child == 0) {
        if (::getuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(99);
        ::_exit(ClassifyTryAcquire(folder));
    }
    const int status = ReapChild(child, std::chrono::seconds(10));
    return status >= 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
#endif

} // namespace

TEST(InstallLock, OneHolderAtATimeWithinAProcess) {
    TempDir dir;
    const std::string folder = dir.path().string();
    auto first = InstallLock::TryAcquire(folder);
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(first->Exclusive());
    EXPECT_EQ(first->Path(), dir / platform::kInstallLockName);
    EXPECT_TRUE(Exists(dir / platform::kInstallLockName));

    // A second open file of the same lock conflicts, also with a trailing
    // separator in the folder name.
    EXPECT_EQ(InstallLock::TryAcquire(folder), nullptr);
    EXPECT_EQ(InstallLock::TryAcquire(folder + "/"), nullptr);

    first.reset();
    // Released, and the lock file stays (empty).
    EXPECT_TRUE(Exists(dir / platform::kInstallLockName));
    EXPECT_EQ(fs::file_size(dir / platform::kInstallLockName), 0u);
    auto again = InstallLock::TryAcquire(folder);
    ASSERT_NE(again, nullptr);
    EXPECT_TRUE(again->Exclusive());
}

TEST(InstallLock, FoldersAreLockedSeparately) {
    TempDir one, two;
    const auto a = InstallLock::TryAcquire(one.path().string());
    const auto b = InstallLock::TryAcquire(two.path().string());
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_TRUE(a->Exclusive() && b->Exclusive());
}

TEST(InstallLock, TheNameIsNoTemporaryFileOfTheUpdate) {
    EXPECT_FALSE(platform::IsOwnTempFileName(platform::kInstallLockName));
    EXPECT_EQ(std::string(platform::kInstallLockName).rfind(".quenmor-tmp-", 0), std::string::npos);
}

TEST(InstallLock, AnotherProcessHoldsItUntilItIsKilled) {
    TempDir dir;
    const std::string folder = platform::PathText(dir.path());
    testing_support::ChildProcess holder(testing_support::TestChildPath(), {"hold-lock", folder},
                                         folder);
    ASSERT_TRUE(holder.Started());
    const auto until = Clock::now() + std::chrono::seconds(20);
    while (!Exists(dir / "held.txt") && Clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(Exists(dir / "held.txt")) << "the other process did not answer";
    EXPECT_EQ(testing_support::ReadFile(dir / "held.txt"), "y");

    EXPECT_EQ(InstallLock::TryAcquire(folder), nullptr);

    holder.Kill();
    const auto ending = holder.Wait(Clock::now());
    ASSERT_TRUE(ending);
    EXPECT_TRUE(ending->killed);
    const auto lock = InstallLock::TryAcquire(folder);
    ASSERT_NE(lock, nullptr);
    EXPECT_TRUE(lock->Exclusive());
}

TEST(InstallLock, ProgramsStartedMeanwhileDoNotKeepIt) {
    TempDir dir;
    const std::string folder = platform::PathText(dir.path());
    auto lock = InstallLock::TryAcquire(folder);
    ASSERT_NE(lock, nullptr);
    // A program started while the lock is held (the game, the update script)
    // outlives the launcher but must not hold its lock.
    ASSERT_TRUE(platform::StartDetached(testing_support::TestChildPath(), {"sleep", "3"}, folder));
    lock.reset();
    const auto again = InstallLock::TryAcquire(folder);
    ASSERT_NE(again, nullptr);
    EXPECT_TRUE(again->Exclusive());
}

TEST(InstallLock, MissingFolderRaisesAnErrorNamingIt) {
    TempDir dir;
    const std::string missing = dir / "no such folder";
    try {
        InstallLock::TryAcquire(missing);
        ADD_FAILURE() << "no error";
    } catch (const EInOutError& error) {
        EXPECT_NE(std::string(error.what()).find(missing), std::string::npos) << error.what();
    }
    WriteFile(dir / "a file", "x");
    EXPECT_THROW(InstallLock::TryAcquire(dir / "a file"), EInOutError);
    EXPECT_FALSE(Exists(missing));
}

#ifndef _WIN32
// Windows has no permission bits to take the write access away; its access
// lists are left to the system.
TEST(InstallLock, ReadOnlyFolderDoesNotBlockThePlayer) {
    TempDir dir;
    fs::permissions(dir.path(), fs::perms::owner_all | fs::perms::group_read |
                                    fs::perms::group_exec | fs::perms::others_read |
                                    fs::perms::others_exec);
    const std::string folder = dir / "install";
    fs::create_directory(folder);

    // No lock file can be made there: an object that holds nothing.
    fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                fs::perms::group_exec | fs::perms::others_read |
                                fs::perms::others_exec);
    EXPECT_EQ(TryAcquireAsUser(folder), kNothingHeld);
    EXPECT_FALSE(Exists(folder + "/" + platform::kInstallLockName));

    // A lock file that is there serves also without write access.
    fs::permissions(folder, fs::perms::owner_write, fs::perm_options::add);
    WriteFile(folder + "/" + platform::kInstallLockName, "");
    fs::permissions(folder, fs::perms::owner_write, fs::perm_options::remove);
    EXPECT_EQ(TryAcquireAsUser(folder), kExclusive);
    {
        const auto held = InstallLock::TryAcquire(folder);
        ASSERT_NE(held, nullptr);
        EXPECT_EQ(TryAcquireAsUser(folder), kRefused);
    }
}
#endif
