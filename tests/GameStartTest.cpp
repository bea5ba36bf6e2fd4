// Starting the game: Windows programs and batch files through Wine, other
// programs directly, each in its own folder; the errors the player sees when
// Wine or the folder is missing.
#include "Errors.h"
#include "Misc.h"
#include "Process.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using testing_support::Exists;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;
namespace fs = std::filesystem;

namespace {

bool WaitUntil(const std::function<bool()>& condition, std::chrono::seconds limit) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < until) {
        if (condition())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return condition();
}

void MakeExecutable(const std::string& path) {
    fs::permissions(path, fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec,
                    fs::perm_options::add);
}

// A search path for the life of the object.
class ScopedPath {
public:
    explicit ScopedPath(const std::string& path) {
        if (const char* old = std::getenv("PATH"))
            previous_ = old;
        ::setenv("PATH", path.c_str(), 1);
    }
    ~ScopedPath() {
        if (previous_)
            ::setenv("PATH", previous_->c_str(), 1);
        else
            ::unsetenv("PATH");
    }
    ScopedPath(const ScopedPath&) = delete;
    ScopedPath& operator=(const ScopedPath&) = delete;

private:
    std::optional<std::string> previous_;
};

// A stand-in for Wine, first on the search path, that records its working
// folder and its arguments (one a line) in `record`.
class FakeWine {
public:
    FakeWine() : path_(Install(bin_)) {}

    std::string Record() const { return bin_ / "record.txt"; }

    // What the last start recorded, once it is complete.
    std::string WaitForRecord() const {
        if (!WaitUntil([&] { return Exists(Record()); }, std::chrono::seconds(10)))
            return "(nothing recorded)";
        return ReadFile(Record());
    }

private:
    // Writes the stand-in and returns the search path that finds it first.
    static std::string Install(const TempDir& bin) {
        const std::string record = bin / "record.txt";
        WriteFile(bin / "wine", "#!/bin/sh\n"
                                "{ pwd; for a in \"$@\"; do printf '%s\\n' \"$a\"; done; } > '" +
                                    record + ".part'\nmv '" + record + ".part' '" + record + "'\n");
        MakeExecutable(bin / "wine");
        const char* old = std::getenv("PATH");
        return bin.path().string() + ":" + (old ? old : "");
    }

    TempDir bin_;
    ScopedPath path_;
};

// Runs `body` in a child process and returns its exit code (-1 when it did
// not end within 10 s).
int InChild(const std::function<int()>& body) {
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(body());
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    int status = 0;
    while (std::chrono::steady_clock::now() < until) {
        if (::waitpid(child, &status, WNOHANG) == child)
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ::kill(child, SIGKILL);
    ::waitpid(child, &status, 0);
    return -1;
}

// The text RunInOwnFolder raises, or empty text.
std::string RunError(const std::string& commandLine) {
    try {
        RunInOwnFolder(commandLine);
    } catch (const std::exception& error) {
        return error.what();
    }
    return {};
}

} // namespace

TEST(GameStart, WindowsProgramsAreRecognised) {
    EXPECT_TRUE(platform::IsWindowsProgram("system/zentyr.exe"));
    EXPECT_TRUE(platform::IsWindowsProgram("Zentyr.EXE"));
    EXPECT_TRUE(platform::IsWindowsProgram("start.Bat"));
    EXPECT_TRUE(platform::IsWindowsProgram("run.CMD"));
    EXPECT_FALSE(platform::IsWindowsProgram("zentyr"));
    EXPECT_FALSE(platform::IsWindowsProgram("run.sh"));
    EXPECT_FALSE(platform::IsWindowsProgram("exe"));
    EXPECT_FALSE(platform::IsWindowsProgram("game.exe.txt"));
}

TEST(GameStart, WindowsProgramStartsThroughWineInItsFolder) {
    TempDir base;
    WriteFile(base / "system/zentyr.exe", "MZ");
    FakeWine wine;
    RunInOwnFolder(base.path().string() + "/" + "system/zentyr.exe");
    EXPECT_EQ(wine.WaitForRecord(), base / "system" + "\n" + (base / "system/zentyr.exe") + "\n");
}

TEST(GameStart, ArgumentsPassThroughAndBlanksInTheBaseFolderWork) {
    TempDir root;
    const std::string base = root / "Games/Quenmor client";
    WriteFile(base + "/system/zentyr.exe", "MZ");
    FakeWine wine;
    RunInOwnFolder(base + "/system/zentyr.exe -window  -lang ru");
    EXPECT_EQ(wine.WaitForRecord(),
              base + "/system\n" + base + "/system/zentyr.exe\n-window\n-lang\nru\n");
}

TEST(GameStart, BatchFileRunsThroughWineCmd) {
    TempDir base;
    WriteFile(base / "system/START.BAT", "@echo off\r\n");
    FakeWine wine;
    RunInOwnFolder(base / "system/START.BAT" + " fast");
    EXPECT_EQ(wine.WaitForRecord(),
              base / "system" + "\nC:\\windows\\system32\\cmd.exe\n/c\nSTART.BAT\nfast\n");
}

TEST(GameStart, OtherProgramsStartDirectly) {
    TempDir base;
    FakeWine wine;
    const std::string game = base / "bin/zentyr";
    WriteFile(game, "#!/bin/sh\n{ pwd; echo \"$1\"; } > ../direct.part && "
                    "mv ../direct.part ../direct.txt\n");
    MakeExecutable(game);
    RunInOwnFolder(game + " -x");
    ASSERT_TRUE(WaitUntil([&] { return Exists(base / "direct.txt"); }, std::chrono::seconds(10)));
    EXPECT_EQ(ReadFile(base / "direct.txt"), base / "bin" + "\n-x\n");

    // A shell script without the executable bit runs through the shell.
    WriteFile(base / "tools/run.sh", "pwd > ../script.part && mv ../script.part ../script.txt\n");
    RunInOwnFolder(base / "tools/run.sh");
    ASSERT_TRUE(WaitUntil([&] { return Exists(base / "script.txt"); }, std::chrono::seconds(10)));
    EXPECT_EQ(ReadFile(base / "script.txt"), base / "tools" + "\n");
    EXPECT_FALSE(Exists(wine.Record()));
}

TEST(GameStart, MissingWineIsExplained) {
    TempDir base, empty;
    WriteFile(base / "system/zentyr.exe", "MZ");
    testing_support::ScopedCurrentDir inBase(base.path());
    {
        ScopedPath path(empty.path().string());
        EXPECT_EQ(RunError(base / "system/zentyr.exe"),
                  "Wine is needed to start system/zentyr.exe; install the package \"wine\"");
        EXPECT_THROW(RunInOwnFolder(base / "system/zentyr.exe"), Exception);
    }
    {
        ScopedPath path(empty.path().string());
        WriteFile(base / "go.cmd", "");
        EXPECT_EQ(RunError(base / "go.cmd" + " -a"),
                  "Wine is needed to start go.cmd; install the package \"wine\"");
    }
}

TEST(GameStart, FolderErrorsAreReportedAsTheWindowsBuildDoes) {
    TempDir base;
    FakeWine wine;
    EXPECT_EQ(RunError(base / "no such folder/zentyr.exe -x"), "File not found");
    WriteFile(base / "plain file", "");
    EXPECT_EQ(RunError(base / "plain file/zentyr.exe"), "Invalid filename");
    fs::create_directory_symlink(base / "loop", base / "loop");
    EXPECT_EQ(RunError(base / "loop/zentyr.exe"), "I/O error " + std::to_string(ELOOP));
    EXPECT_FALSE(Exists(wine.Record()));
}

TEST(GameStart, TooManyOpenFiles) {
#if defined(__SANITIZE_ADDRESS__)
    // The sanitizers' own run-time needs descriptors to report anything.
    GTEST_SKIP() << "not with every descriptor taken under the sanitizers";
#endif
    TempDir base;
    WriteFile(base / "system/zentyr.exe", "MZ");
    const std::string line = base / "system/zentyr.exe";
    const int code = InChild([&] {
        rlimit limit{};
        ::getrlimit(RLIMIT_NOFILE, &limit);
        limit.rlim_cur = 64;
        if (::setrlimit(RLIMIT_NOFILE, &limit) != 0)
            return 2;
        while (::dup(0) >= 0) {
        }
        return RunError(line) == "Too many open files" ? 0 : 1;
    });
    EXPECT_EQ(code, 0);
}

TEST(GameStart, FolderWithoutAccess) {
    TempDir base;
    fs::permissions(base.path(),
                    fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    WriteFile(base / "locked/zentyr.exe", "MZ");
    fs::permissions(base / "locked", fs::perms::none);
    const std::string line = base / "locked/zentyr.exe";
    const int code = InChild([&] {
        // Root may enter any folder: the check runs as an ordinary user.
        if (::getuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            return 2;
        return RunError(line) == "File access denied" ? 0 : 1;
    });
    EXPECT_EQ(code, 0);
}
