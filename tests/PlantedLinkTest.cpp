// Links planted in the installation by whoever can write there, for a run
// that may have the superuser's rights: at the names the run downloads to
// (the manifest's copy, each file's copy, the new launcher build and the
// update script), and as folders that lead outside. The files the links
// point at stay byte for byte, and what lies behind a linked folder is
// neither written nor removed.
#include "GetFilesThr.h"
#include "Misc.h"
#include "TestHttpServer.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

const std::string kVictim = "a file of the system, outside the installation";

class PlantedLinkTest : public ::testing::Test {
protected:
    PlantedLinkTest() : server_(TestHttpServer::Folder(dir_ / "server")) {
        fs::create_directories(dir_.path() / "install");
        fs::create_directories(dir_.path() / "outside");
    }

    void SetUp() override {
        if (platform::kPathSeparator != '/')
            GTEST_SKIP() << "symbolic links need rights of their own on Windows";
    }

    // Publishes `files` (manifest path with "/", content), and `self` as the
    // launcher build when given.
    void Publish(const std::vector<std::pair<std::string, std::string>>& files,
                 const std::string& self = {}) {
        std::string lines, selfLine;
        for (const auto& [path, content] : files) {
            const std::string copy = Bzip2(content);
            WriteFile(dir_ / ("server/" + path + ".bz2"), copy);
            std::string manifestPath = path;
            std::replace(manifestPath.begin(), manifestPath.end(), '/', '\\');
            (path == self ? selfLine : lines) +=
                manifestPath + "|" + Md5Hex(content) + "|" + std::to_string(copy.size()) + "\r\n";
        }
        WriteFile(dir_ / "server/files.lst.bz2",
                  Bzip2("[settings]\r\nRev|2\r\nModHosts|0\r\n[/settings]\r\n[self]\r\n" +
                        selfLine + "[/self]\r\n[files_normal]\r\n" + lines +
                        "[/files_normal]\r\n"));
    }

    // A file outside the installation, and a link to it at `name` inside.
    std::string PlantLink(const std::string& name) {
        const std::string victim = dir_ / ("outside/" + fs::path(name).filename().string());
        WriteFile(victim, kVictim);
        fs::create_directories(fs::path(dir_ / ("install/" + name)).parent_path());
        fs::create_symlink(victim, dir_ / ("install/" + name));
        return victim;
    }

    std::vector<std::string> Run(int createBackup = 0, std::int32_t atRevision = 1) {
        ScopedCurrentDir cwd(dir_.path() / "install");
        GFilesThread thread(target_);
        thread.UpdateUrl = server_.Url("/");
        thread.AtRevision = atRevision;
        thread.CreateBackup = createBackup;
        thread.LauncherFile = dir_ / "install/game.exe";
        thread.LauncherProcessId = 999999999; // no such process: the script ends nothing
        thread.Execute();
        return target_.EventsWithoutFileProgress();
    }

    TempDir dir_;
    TestHttpServer server_;
    RecordingTarget target_;
};

} // namespace

// Links at every name a run downloads to or writes whole: each is replaced,
// and what it points at is untouched.
TEST_F(PlantedLinkTest, LinksAtTheRunsOwnNamesAreReplacedNotWrittenThrough) {
    WriteFile(dir_ / "install/game.exe", "the launcher as installed");
    Publish({{"data/a.dat", "new a"}, {"game.exe", "a new launcher build"}}, "game.exe");
    std::vector<std::string> victims;
    for (const char* name : {"files.lst.bz2", "files.lst", "data/a.dat.bz2", "game.exe.bz2",
                             "game.exe.New", platform::kUpdateScriptName})
        victims.push_back(PlantLink(name));
    const std::vector<std::string> events = Run();
    ASSERT_EQ(events.end()[-2], std::string("ShowStatus:") + status::kAllUpdated)
        << ::testing::PrintToString(target_.Causes());
    EXPECT_EQ(ReadFile(dir_ / "install/data/a.dat"), "new a");
    // The update script moves the new build into place, then removes itself
    // (it waits for the process that started it: on a busy machine, and
    // under the sanitizers, that can take some seconds).
    const std::string script = dir_ / ("install/" + std::string(platform::kUpdateScriptName));
    for (int i = 0; i < 1200 && fs::exists(fs::symlink_status(script)); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(ReadFile(dir_ / "install/game.exe"), "a new launcher build");
    for (const std::string& victim : victims)
        EXPECT_EQ(ReadFile(victim), kVictim) << victim;
}

// A folder of the installation that is a link to elsewhere: its entries are
// left out as paths outside the installation are, and nothing behind it is
// written, replaced or removed. Links that stay inside are followed.
TEST_F(PlantedLinkTest, FolderLinkedOutsideIsLeftOut) {
    WriteFile(dir_ / "outside/etc/a.dat", kVictim);
    WriteFile(dir_ / "outside/etc/a.dat.bz2", kVictim); // would be taken for a leftover copy
    fs::create_symlink(dir_ / "outside/etc", dir_ / "install/data");
    fs::create_directories(dir_.path() / "install/real");
    fs::create_symlink(dir_ / "install/real", dir_ / "install/inside");
    Publish({{"data/a.dat", "new a"}, {"inside/b.dat", "new b"}, {"c.dat", "new c"}});
    const std::vector<std::string> events = Run();
    EXPECT_EQ(events.end()[-2], std::string("ShowStatus:") + status::kFailed);
    EXPECT_TRUE(target_.HasCause("'data\\a.dat' leads outside the installation through a linked "
                                 "folder"));
    EXPECT_EQ(ReadFile(dir_ / "outside/etc/a.dat"), kVictim);
    EXPECT_EQ(ReadFile(dir_ / "outside/etc/a.dat.bz2"), kVictim);
    EXPECT_EQ(ReadFile(dir_ / "install/real/b.dat"), "new b");
    EXPECT_EQ(ReadFile(dir_ / "install/c.dat"), "new c");
}

// Backups never go through a link: a backup folder that leads outside keeps
// the file from being replaced, and a file that is a link to outside is
// replaced without what it points at being copied into the backups.
TEST_F(PlantedLinkTest, BackupsNeverGoThroughALink) {
    WriteFile(dir_ / "install/a.dat", "old a");
    const std::string victim = PlantLink("b.dat");
    Publish({{"a.dat", "new a"}, {"b.dat", "new b"}});
    fs::create_symlink(dir_ / "outside", dir_ / "install/backup");
    // A check of files_normal empties the backup folder; a critical-only run
    // (the revision already recorded) keeps it, link and all.
    WriteFile(dir_ / "server/files.lst.bz2",
              Bzip2(ReplaceText(Unbzip2File(dir_ / "server/files.lst.bz2"), "files_normal",
                                "files_critical")));
    Run(1, 2);
    EXPECT_EQ(ReadFile(dir_ / "install/a.dat"), "old a");
    EXPECT_TRUE(target_.HasCause("would lie outside the installation"));
    EXPECT_FALSE(Exists(dir_ / "outside/a.dat"));
    EXPECT_EQ(ReadFile(dir_ / "install/b.dat"), "new b");
    EXPECT_FALSE(fs::is_symlink(dir_ / "install/b.dat"));
    EXPECT_EQ(ReadFile(victim), kVictim);
    EXPECT_FALSE(Exists(dir_ / "outside/b.dat.bz2"));
}
