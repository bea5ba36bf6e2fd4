// The update script and the self-update, run for real against a stand-in
// launcher process.
#include "Errors.h"
#include "GetFilesThr.h"
#include "Misc.h"
#include "TestHttpServer.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

// A process standing in for the running launcher.
class StandIn {
public:
    StandIn() {
        pid_ = ::fork();
        if (pid_ == 0) {
            ::execl("/bin/sleep", "sleep", "30", static_cast<char*>(nullptr));
            ::_exit(127);
        }
    }
    ~StandIn() {
        if (!reaped_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    long pid() const { return pid_; }
    // Waits up to `limit` for the process to end; whether SIGKILL ended it.
    bool KilledWithin(std::chrono::seconds limit) {
        const auto until = std::chrono::steady_clock::now() + limit;
        int status = 0;
        while (std::chrono::steady_clock::now() < until) {
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                reaped_ = true;
                return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }
    bool Alive() { return ::waitpid(pid_, nullptr, WNOHANG) == 0; }

private:
    pid_t pid_ = -1;
    bool reaped_ = false;
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

// A new launcher build that, once started, notes the folder it runs in.
const std::string kNewBuild = "#!/bin/sh\npwd > started-in.txt\n";

} // namespace

TEST(UpdateScriptRun, EndsTheLauncherSwapsTheBuildAndStartsIt) {
    TempDir dir;
    const fs::path folder = dir.path() / "My 'Game' folder";
    fs::create_directories(folder);
    WriteFile((folder / "Quenmor").string(), "old build");
    WriteFile((folder / "Quenmor.New").string(), kNewBuild);
    WriteFile((folder / "files.lst").string(), "manifest");
    StandIn launcher;
    WriteFile((folder / "Update.sh").string(),
              UpdateShellText(folder.string(), "Quenmor", true, launcher.pid()));

    RunInOwnFolder((folder / "Update.sh").string());

    EXPECT_TRUE(launcher.KilledWithin(std::chrono::seconds(10)));
    ASSERT_TRUE(WaitFor([&] { return Exists((folder / "started-in.txt").string()); },
                        std::chrono::seconds(10)));
    EXPECT_TRUE(WaitFor([&] { return !Exists((folder / "Update.sh").string()); },
                        std::chrono::seconds(10)));
    EXPECT_EQ(ReadFile((folder / "started-in.txt").string()), folder.string() + "\n");
    EXPECT_EQ(ReadFile((folder / "Quenmor").string()), kNewBuild);
    EXPECT_TRUE((fs::status(folder / "Quenmor").permissions() & fs::perms::owner_exec) !=
                fs::perms::none);
    EXPECT_FALSE(Exists((folder / "Quenmor.New").string()));
    EXPECT_FALSE(Exists((folder / "files.lst").string()));
}

TEST(RunInOwnFolder, StartsTheProgramInItsOwnFolder) {
    TempDir dir;
    WriteFile(dir / "sub folder/tool.sh", "#!/bin/sh\npwd > where.txt\necho \"$1\" > arg.txt\n");
    RunInOwnFolder(dir / "sub folder/tool.sh" + " first");
    ASSERT_TRUE(
        WaitFor([&] { return Exists(dir / "sub folder/arg.txt"); }, std::chrono::seconds(10)));
    EXPECT_TRUE(WaitFor([&] { return ReadFile(dir / "sub folder/arg.txt") == "first\n"; },
                        std::chrono::seconds(5)));
    EXPECT_EQ(ReadFile(dir / "sub folder/where.txt"), dir / "sub folder" + "\n");
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
        WriteFile(dir_ / "install/Quenmor", "old build");
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
        thread.LauncherFile = dir_ / "install/Quenmor";
        thread.LauncherProcessId = launcher_.pid();
        thread.Execute();
    }
    std::string Install(const std::string& name) { return dir_ / ("install/" + name); }
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
    PublishManifest(PublishBuild("Quenmor", kNewBuild));
    Run();
    EXPECT_TRUE(launcher_.KilledWithin(std::chrono::seconds(10)));
    ASSERT_TRUE(
        WaitFor([&] { return Exists(Install("started-in.txt")); }, std::chrono::seconds(10)));
    EXPECT_TRUE(WaitFor([&] { return !Exists(Install("Update.sh")); }, std::chrono::seconds(10)));
    EXPECT_EQ(ReadFile(Install("Quenmor")), kNewBuild);
    EXPECT_EQ(ReadFile(Install("started-in.txt")), dir_ / "install" + "\n");
    EXPECT_FALSE(Exists(Install("Quenmor.bz2")));
}

TEST_F(SelfUpdateTest, SameDigestFetchesNothing) {
    PublishManifest(PublishBuild("Quenmor", "old build"));
    Run();
    EXPECT_EQ(Requested(), (std::vector<std::string>{"/files.lst.bz2"}));
    EXPECT_FALSE(Exists(Install("Update.sh")));
    EXPECT_TRUE(launcher_.Alive());
}

TEST_F(SelfUpdateTest, EntryNamingAnotherProgramIsLeftAlone) {
    WriteFile(dir_ / "install/Quenmor.exe", "a build for another system");
    PublishManifest(PublishBuild("Quenmor.exe", "newer build for another system"));
    Run();
    EXPECT_EQ(Requested(), (std::vector<std::string>{"/files.lst.bz2"}));
    EXPECT_EQ(ReadFile(Install("Quenmor.exe")), "a build for another system");
    EXPECT_TRUE(launcher_.Alive());
}

TEST_F(SelfUpdateTest, BuildThatDoesNotMatchItsDigestIsDeletedAndNothingRuns) {
    std::string entry = PublishBuild("Quenmor", kNewBuild);
    entry = "Quenmor|" + Md5Hex("another build") + entry.substr(entry.rfind('|'));
    PublishManifest(entry);
    Run();
    EXPECT_FALSE(Exists(Install("Quenmor.New")));
    EXPECT_FALSE(Exists(Install("Update.sh")));
    EXPECT_EQ(ReadFile(Install("Quenmor")), "old build");
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
