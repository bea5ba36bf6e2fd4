// The update script and the self-update, run for real against a stand-in
// launcher process.
#include "ChildProcess.h"
#include "Errors.h"
#include "Files.h"
#include "GetFilesThr.h"
#include "Misc.h"
#include "Process.h"
#include "TestHttpServer.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

// A process standing in for the running launcher: it waits 30 s and exits 0.
class StandIn {
public:
    StandIn() : process_(TestChildPath(), {"sleep", "30"}, "") {}
    long pid() const { return process_.Id(); }
    // Waits up to `limit` (well below its 30 s) for the process to end;
    // whether it was killed. Windows tells a kill only by the exit code the
    // killer chose (Wine's taskkill gives 0): there ending early is the sign.
    bool KilledWithin(std::chrono::seconds limit) {
        const auto ending = process_.Wait(Clock::now() + limit);
        return ending && (ending->killed || platform::kUpdateScriptIsBatch);
    }
    bool Alive() { return !process_.Wait(Clock::now()); }

private:
    ChildProcess process_;
};

bool WaitFor(const std::function<bool()>& condition, std::chrono::seconds limit) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < until) {
        if (condition())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return condition();
}

// The launcher's file name on this system, and one of a build for another.
const std::string kLauncher = platform::kUpdateScriptIsBatch ? "Quenmor.exe" : "Quenmor";
const std::string kOtherLauncher = platform::kUpdateScriptIsBatch ? "Quenmor" : "Quenmor.exe";
const std::string kScript = platform::kUpdateScriptName;

// A new launcher build that, once started, notes the folder it runs in.
std::string NewBuild() {
    return platform::kUpdateScriptIsBatch ? ReadFile(TestChildPath())
                                          : "#!/bin/sh\npwd > started-in.txt\n";
}

std::string ScriptText(const std::string& folder, bool newBuild, long pid) {
    return platform::kUpdateScriptIsBatch ? UpdateBatchText(folder, kLauncher, newBuild, pid)
                                          : UpdateShellText(folder, kLauncher, newBuild, pid);
}

} // namespace

TEST(UpdateScriptRun, EndsTheLauncherSwapsTheBuildAndStartsIt) {
    TempDir dir;
    const fs::path folder = dir.path() / "My 'Game' folder";
    const auto at = [&](const std::string& name) { return platform::PathText(folder / name); };
    fs::create_directories(folder);
    WriteFile(at(kLauncher), "old build");
    WriteFile(at(kLauncher + ".New"), NewBuild());
    WriteFile(at("files.lst"), "manifest");
    StandIn launcher;
    WriteFile(at(kScript), ScriptText(platform::PathText(folder), true, launcher.pid()));

    RunInOwnFolder(at(kScript));

    EXPECT_TRUE(launcher.KilledWithin(std::chrono::seconds(20)));
    ASSERT_TRUE(WaitFor([&] { return Exists(at("started-in.txt")); }, std::chrono::seconds(20)));
    EXPECT_TRUE(WaitFor([&] { return !Exists(at(kScript)); }, std::chrono::seconds(20)));
    EXPECT_EQ(ReadFile(at("started-in.txt")), platform::PathText(folder) + "\n");
    EXPECT_EQ(ReadFile(at(kLauncher)), NewBuild());
    if (!platform::kUpdateScriptIsBatch) {
        EXPECT_TRUE((fs::status(folder / kLauncher).permissions() & fs::perms::owner_exec) !=
                    fs::perms::none);
    }
    EXPECT_FALSE(Exists(at(kLauncher + ".New")));
    EXPECT_FALSE(Exists(at("files.lst")));
}

// A launcher that a kill does not end at once: on Windows one that refuses to
// be ended by others and ends by itself 6 s after its start; elsewhere one that
// is killed but stays a process until its parent, the test, takes note.
TEST(UpdateScriptRun, MovesTheBuildOnlyOnceTheLauncherHasGone) {
    TempDir dir;
    const fs::path folder = dir.path() / "game";
    const auto at = [&](const std::string& name) { return platform::PathText(folder / name); };
    fs::create_directories(folder);
    WriteFile(at(kLauncher), "old build");
    WriteFile(at(kLauncher + ".New"), NewBuild());
    ChildProcess launcher(TestChildPath(), {"linger", "6"}, "");
    ASSERT_TRUE(launcher.Started());
    WriteFile(at(kScript), ScriptText(platform::PathText(folder), true, launcher.Id()));

    RunInOwnFolder(at(kScript));

    // Waiting for it here would end the wait elsewhere, so on Windows only.
    const auto watched = Clock::now() + std::chrono::seconds(3);
    while (Clock::now() < watched &&
           !(platform::kUpdateScriptIsBatch && launcher.Wait(Clock::now()))) {
        ASSERT_TRUE(Exists(at(kLauncher + ".New"))) << "moved while the launcher was there";
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_TRUE(launcher.Wait(Clock::now() + std::chrono::seconds(20)));
    ASSERT_TRUE(WaitFor([&] { return Exists(at("started-in.txt")); }, std::chrono::seconds(20)));
    EXPECT_EQ(ReadFile(at(kLauncher)), NewBuild());
    EXPECT_FALSE(Exists(at(kLauncher + ".New")));
}

TEST(RunInOwnFolder, StartsTheProgramInItsOwnFolder) {
    TempDir dir;
    const std::string sub = platform::PathText(dir.path() / "sub folder");
    const std::string separator(1, platform::kPathSeparator);
    const bool batch = platform::kUpdateScriptIsBatch;
    const std::string tool = sub + separator + (batch ? "tool.bat" : "tool.sh");
    const std::string lineEnd = platform::kLineEnding;
    WriteFile(tool, batch ? "@echo off\r\ncd > where.txt\r\necho %1> arg.txt\r\n"
                          : "#!/bin/sh\npwd > where.txt\necho \"$1\" > arg.txt\n");
    RunInOwnFolder(tool + " first");
    const std::string arg = sub + separator + "arg.txt";
    ASSERT_TRUE(WaitFor([&] { return Exists(arg); }, std::chrono::seconds(20)));
    EXPECT_TRUE(
        WaitFor([&] { return ReadFile(arg) == "first" + lineEnd; }, std::chrono::seconds(5)));
    EXPECT_EQ(ReadFile(sub + separator + "where.txt"), sub + lineEnd);
    EXPECT_EQ(fs::current_path(), fs::current_path()); // our own folder is left alone
}

TEST(RunInOwnFolder, MissingFolderIsAnInputOutputError) {
    TempDir dir;
    try {
        RunInOwnFolder(dir / "no such folder/game.exe -x");
        ADD_FAILURE() << "no error";
    } catch (const EInOutError& e) {
        EXPECT_STREQ(e.what(), "File not found");
    }
}

// ---------------------------------------------------------------------------

namespace {

class SelfUpdateTest : public ::testing::Test {
protected:
    SelfUpdateTest() : server_(TestHttpServer::Folder((dir_.path() / "server").string())) {
        fs::create_directories(dir_.path() / "server");
        fs::create_directories(dir_.path() / "install");
        WriteFile(Install(kLauncher), "old build");
    }

    void PublishManifest(const std::string& self) {
        const std::string text = "[settings]\r\nRev|1\r\nModHosts|0\r\n[/settings]\r\n[self]\r\n" +
                                 self + "\r\n[/self]\r\n";
        WriteFile(dir_ / "server/files.lst.bz2", Bzip2(text));
    }
    std::string PublishBuild(const std::string& name, const std::string& content) {
        const std::string compressed = Bzip2(content);
        WriteFile(dir_ / ("server/" + name + ".bz2"), compressed);
        return name + "|" + Md5Hex(content) + "|" + std::to_string(compressed.size());
    }
    void Run() {
        ScopedCurrentDir cwd(dir_.path() / "install");
        GFilesThread thread(target_);
        thread.UpdateUrl = server_.Url("/");
        thread.AtRevision = 1;
        thread.LauncherFile = Install(kLauncher);
        thread.LauncherProcessId = launcher_.pid();
        thread.Execute();
    }
    std::string Install(const std::string& name) const {
        return platform::PathText(dir_.path() / "install" / name);
    }
    std::vector<std::string> Requested() {
        std::vector<std::string> targets;
        for (const auto& r : server_.Requests())
            targets.push_back(r.target);
        return targets;
    }

    TempDir dir_;
    TestHttpServer server_;
    RecordingTarget target_;
    StandIn launcher_;
};

} // namespace

TEST_F(SelfUpdateTest, NewerBuildReplacesTheLauncher) {
    PublishManifest(PublishBuild(kLauncher, NewBuild()));
    Run();
    EXPECT_TRUE(launcher_.KilledWithin(std::chrono::seconds(20)));
    ASSERT_TRUE(
        WaitFor([&] { return Exists(Install("started-in.txt")); }, std::chrono::seconds(20)));
    EXPECT_TRUE(WaitFor([&] { return !Exists(Install(kScript)); }, std::chrono::seconds(20)));
    EXPECT_EQ(ReadFile(Install(kLauncher)), NewBuild());
    EXPECT_EQ(ReadFile(Install("started-in.txt")),
              platform::PathText(dir_.path() / "install") + "\n");
    EXPECT_FALSE(Exists(Install(kLauncher + ".bz2")));
}

// The launcher runs in its installation folder, which Windows searches before
// the system folder for a program named without a path: programs planted
// there under the names of the system's must not run instead.
TEST_F(SelfUpdateTest, ProgramsNamedLikeTheSystemsInTheInstallationAreNotRun) {
    if (!platform::kUpdateScriptIsBatch)
        GTEST_SKIP() << "no command interpreter starts the update script here";
    for (const char* name : {"cmd.exe", "taskkill.exe", "tasklist.exe", "WMIC.exe", "PING.EXE"})
        fs::copy_file(platform::FsPath(TestChildPath()), platform::FsPath(Install(name)));
    PublishManifest(PublishBuild(kLauncher, NewBuild()));
    Run();
    EXPECT_TRUE(launcher_.KilledWithin(std::chrono::seconds(20)));
    EXPECT_TRUE(
        WaitFor([&] { return Exists(Install("started-in.txt")); }, std::chrono::seconds(20)));
    EXPECT_EQ(ReadFile(Install(kLauncher)), NewBuild());
    EXPECT_FALSE(Exists(Install("unexpected-start.txt")))
        << ReadFile(Install("unexpected-start.txt"));
}

TEST_F(SelfUpdateTest, SameDigestFetchesNothing) {
    PublishManifest(PublishBuild(kLauncher, "old build"));
    Run();
    EXPECT_EQ(Requested(), (std::vector<std::string>{"/files.lst.bz2"}));
    EXPECT_FALSE(Exists(Install(kScript)));
    EXPECT_TRUE(launcher_.Alive());
}

TEST_F(SelfUpdateTest, EntryNamingAnotherProgramIsLeftAlone) {
    WriteFile(Install(kOtherLauncher), "a build for another system");
    PublishManifest(PublishBuild(kOtherLauncher, "newer build for another system"));
    Run();
    EXPECT_EQ(Requested(), (std::vector<std::string>{"/files.lst.bz2"}));
    EXPECT_EQ(ReadFile(Install(kOtherLauncher)), "a build for another system");
    EXPECT_TRUE(launcher_.Alive());
}

TEST_F(SelfUpdateTest, BuildThatDoesNotMatchItsDigestIsDeletedAndNothingRuns) {
    std::string entry = PublishBuild(kLauncher, NewBuild());
    entry = kLauncher + "|" + Md5Hex("another build") + entry.substr(entry.rfind('|'));
    PublishManifest(entry);
    Run();
    EXPECT_FALSE(Exists(Install(kLauncher + ".New")));
    EXPECT_FALSE(Exists(Install(kScript)));
    EXPECT_EQ(ReadFile(Install(kLauncher)), "old build");
    EXPECT_EQ(target_.EventsWithoutFileProgress().end()[-2], "ShowStatus:Не удалось обновить");
    EXPECT_TRUE(launcher_.Alive());
}

TEST_F(SelfUpdateTest, UnsafeSelfNameIsRefused) {
    WriteFile(dir_ / "outside", "outside");
    PublishManifest("..\\outside|" + Md5Hex("x") + "|10");
    Run();
    EXPECT_EQ(ReadFile(dir_ / "outside"), "outside");
    EXPECT_EQ(Requested(), (std::vector<std::string>{"/files.lst.bz2"}));
    EXPECT_EQ(target_.EventsWithoutFileProgress().end()[-2], "ShowStatus:Не удалось обновить");
}
