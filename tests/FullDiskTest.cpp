// Full disks: an installation, its backups, the manifest's download, the
// hosts file, the launcher's settings and the publisher's output on a small
// disk that runs out. Each time the old files are intact, no temporary file
// is left, the run ends with its usual status, and the cause names the full
// disk. The disks are tmpfs mounts, which only the superuser can make: as
// anyone else the tests skip, saying so.
#include "Files.h"
#include "GetFilesThr.h"
#include "Misc.h"
#include "Profile.h"
#include "PublishErrors.h"
#include "Publisher.h"
#include "TestHttpServer.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

const std::string kNoSpace = "No space left on device";
const std::string kOld = "the old content, kept whatever happens";

// Records the notifications, and writes the revision into "Quenmor.ini" of
// the installation as the hosts of a run do.
class SettingsTarget : public RecordingTarget {
public:
    explicit SettingsTarget(std::string ini) : ini_(std::move(ini)) {}
    void StoreRevision(const std::string& revision) override {
        RecordingTarget::StoreRevision(revision);
        platform::WriteProfileString(ini_, "main", "AtRevision", revision);
    }

private:
    std::string ini_;
};

std::vector<std::string> TempFiles(const fs::path& root) {
    std::vector<std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        if (platform::IsOwnTempFileName(entry.path().filename().string()) ||
            entry.path().extension() == ".bz2")
            found.push_back(entry.path().string());
    return found;
}

class FullDiskTest : public ::testing::Test {
protected:
    FullDiskTest()
        : disk_(dir_.path() / "disk", "512k"), server_(TestHttpServer::Folder(Path("server"))) {
        fs::create_directories(dir_.path() / "server");
    }

    void SetUp() override {
        if (!disk_.Mounted())
            GTEST_SKIP() << "a small disk is mounted only when the tests run as root";
    }

    std::string Path(const std::string& relative) const { return dir_ / relative; }

    // Publishes files (path, content) as revision 2, with hosts entries.
    void PublishTree(const std::vector<std::pair<std::string, std::string>>& files,
                     bool hosts = false, const std::string& padding = {}) {
        std::string lines;
        for (const auto& [path, content] : files) {
            const std::string copy = Bzip2(content);
            WriteFile(Path("server/" + path + ".bz2"), copy);
            std::string manifestPath = path;
            std::replace(manifestPath.begin(), manifestPath.end(), '/', '\\');
            lines +=
                manifestPath + "|" + Md5Hex(content) + "|" + std::to_string(copy.size()) + "\r\n";
        }
        WriteFile(Path("server/files.lst.bz2"),
                  Bzip2("[settings]\r\nRev|2\r\nModHosts|" + std::string(hosts ? "1" : "0") +
                        "\r\n[/settings]\r\n[hosts]\r\n10.1.2.3|login.quenmor.example\r\n"
                        "[/hosts]\r\n[files_normal]\r\n" +
                        lines + "[/files_normal]\r\n" + padding));
    }

    // An installation below the small disk, with "Quenmor.ini" and the old
    // content of data/a.dat.
    std::string Install() {
        const std::string install = Path("disk/install");
        WriteFile(install + "/data/a.dat", kOld);
        WriteFile(install + "/Quenmor.ini", "[main]\r\nAtRevision=1\r\n");
        return install;
    }

    std::vector<std::string> Run(const std::string& install, int createBackup = 0,
                                 const std::string& hostsFolder = {},
                                 const std::string& settings = {}) {
        SettingsTarget target(settings.empty() ? install + "/Quenmor.ini" : settings);
        GFilesThread thread(target);
        thread.UpdateUrl = server_.Url("/");
        thread.AtRevision = 1;
        thread.CreateBackup = createBackup;
        thread.HostsFolder = hostsFolder;
        thread.Retry.firstPause = std::chrono::milliseconds(10);
        RunToEnd(thread, install);
        causes_ = target.Causes();
        return target.EventsWithoutFileProgress();
    }

    bool CauseHolds(const std::string& part, const std::string& also = {}) const {
        return std::any_of(causes_.begin(), causes_.end(), [&](const std::string& c) {
            return c.find(part) != std::string::npos && c.find(also) != std::string::npos;
        });
    }

    // The run ended with the failure text and the commands back, named the
    // full disk, and left nothing of its own behind.
    void ExpectFullDiskFailure(const std::vector<std::string>& events, const std::string& install) {
        ASSERT_GE(events.size(), 2u);
        EXPECT_EQ(events[events.size() - 2], "ShowStatus:Не удалось обновить");
        EXPECT_EQ(events.back(), "UnlockCommands");
        EXPECT_TRUE(CauseHolds(kNoSpace)) << ::testing::PrintToString(causes_);
        EXPECT_EQ(TempFiles(install), std::vector<std::string>());
    }

    TempDir dir_;
    SmallDisk disk_;
    TestHttpServer server_;
    std::vector<std::string> causes_; // of the last run
};

} // namespace

TEST_F(FullDiskTest, InstallKeepsTheOldFile) {
    PublishTree({{"data/a.dat", SampleData(2'000'000, 1)}, {"data/b.dat", "small"}});
    const std::string install = Install();
    disk_.Fill(300'000);
    const auto events = Run(install);
    ExpectFullDiskFailure(events, install);
    EXPECT_EQ(ReadFile(install + "/data/a.dat"), kOld);
    EXPECT_EQ(ReadFile(install + "/Quenmor.ini"), "[main]\r\nAtRevision=1\r\n");
}

// A copy of some 800 bytes that unpacks to 1 GiB of zeros, for a file of
// 1,000 bytes, before files that fit: it fails alone at byte 1,001, the
// others install, and the disk keeps its room.
TEST_F(FullDiskTest, BombCopyFailsAloneAndLeavesTheDiskFree) {
    PublishTree({{"data/b.dat", "b, new"}, {"data/c.dat", SampleData(100'000, 4)}});
    const std::string bomb = Bzip2Zeros(std::uint64_t{1} << 30);
    ASSERT_LT(bomb.size(), 1000u);
    WriteFile(Path("server/data/a.dat.bz2"), bomb);
    // Content size, SHA-256 (not looked at without a trusted key), path, MD5
    // and the copy's size, as the publisher writes a line.
    const std::string line = "1000|" + std::string(64, '0') + "|data\\a.dat|" + Md5Hex("a") + "|" +
                             std::to_string(bomb.size()) + "\r\n";
    WriteFile(Path("server/files.lst.bz2"),
              Bzip2(ReplaceText(Unbzip2File(Path("server/files.lst.bz2")), "[files_normal]\r\n",
                                "[files_normal]\r\n" + line)));
    const std::string install = Install();
    const auto events = Run(install);
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(events[events.size() - 2], "ShowStatus:Не удалось обновить");
    EXPECT_TRUE(CauseHolds("is longer than the 1000 bytes its entry lists"))
        << ::testing::PrintToString(causes_);
    EXPECT_EQ(ReadFile(install + "/data/a.dat"), kOld);
    EXPECT_EQ(ReadFile(install + "/data/b.dat"), "b, new");
    EXPECT_EQ(ReadFile(install + "/data/c.dat"), SampleData(100'000, 4));
    EXPECT_EQ(TempFiles(install), std::vector<std::string>());
    EXPECT_GT(fs::space(Path("disk")).available, 300'000u);
}

TEST_F(FullDiskTest, BackupThatDoesNotFitKeepsTheFileUnreplaced) {
    PublishTree({{"data/a.dat", "the new content"}});
    const std::string install = Install();
    const std::string big = SampleData(200'000, 2);
    WriteFile(install + "/data/a.dat", big);
    disk_.Fill(100'000);
    const auto events = Run(install, 1);
    ExpectFullDiskFailure(events, install);
    EXPECT_EQ(ReadFile(install + "/data/a.dat"), big);
    EXPECT_FALSE(Exists(install + "/backup/data/a.dat"));
}

TEST_F(FullDiskTest, ManifestThatDoesNotFitEndsTheRun) {
    // Lines outside the sections make the manifest large and hard to pack.
    std::string padding;
    for (int i = 0; padding.size() < 400'000; ++i)
        padding += Md5Hex(std::to_string(i)) + "\r\n";
    PublishTree({{"data/a.dat", "the new content"}}, false, padding);
    const std::string install = Install();
    disk_.Fill(100'000);
    const auto events = Run(install);
    ExpectFullDiskFailure(events, install);
    EXPECT_FALSE(Exists(install + "/files.lst") || Exists(install + "/files.lst.bz2"));
    EXPECT_EQ(ReadFile(install + "/data/a.dat"), kOld);
}

TEST_F(FullDiskTest, HostsFileOnAFullDiskStaysAsItWas) {
    PublishTree({{"data/a.dat", "the new content"}}, true);
    const std::string install = Path("install");
    WriteFile(install + "/data/a.dat", kOld);
    const std::string hosts = std::string(5000, '#') + "\n127.0.0.1\tlocalhost\n";
    WriteFile(Path("disk/etc/hosts"), hosts);
    disk_.Fill();
    const auto events = Run(install, 0, Path("disk/etc"));
    EXPECT_EQ(ReadFile(Path("disk/etc/hosts")), hosts);
    EXPECT_EQ(TempFiles(Path("disk/etc")), std::vector<std::string>());
    EXPECT_EQ(events[events.size() - 2], "ShowStatus:Не удалось обновить");
    EXPECT_TRUE(CauseHolds("hosts file: ", kNoSpace)) << ::testing::PrintToString(causes_);
    // The game files are brought up to date all the same.
    EXPECT_EQ(ReadFile(install + "/data/a.dat"), "the new content");
}

TEST_F(FullDiskTest, RevisionThatCannotBeRecordedLeavesTheSettingsAsTheyWere) {
    PublishTree({{"data/a.dat", "the new content"}});
    // The installation is elsewhere and current; only its settings file lies
    // on the full disk.
    const std::string install = Path("install");
    WriteFile(install + "/data/a.dat", "the new content");
    const std::string settings = Path("disk/Quenmor.ini");
    WriteFile(settings, "[main]\r\nAtRevision=1\r\n");
    disk_.Fill();
    const auto events = Run(install, 0, {}, settings);
    EXPECT_EQ(ReadFile(settings), "[main]\r\nAtRevision=1\r\n");
    EXPECT_EQ(TempFiles(Path("disk")), std::vector<std::string>());
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(events[events.size() - 2], "ShowStatus:Не удалось обновить");
    EXPECT_TRUE(CauseHolds("Unable to write to", kNoSpace)) << ::testing::PrintToString(causes_);
}

TEST_F(FullDiskTest, PublishingThatDoesNotFitLeavesThePublishedTree) {
    const fs::path client = dir_.path() / "client", out = dir_.path() / "disk/site";
    WriteFile(platform::PathText(client / "a.dat"), "a");
    publish::Options options;
    options.source = client;
    options.out = out;
    options.revision = 1;
    options.jobs = 1;
    publish::Publish(options);
    const auto before = Snapshot(out);
    WriteFile(platform::PathText(client / "b.dat"), SampleData(1'000'000, 3));
    options.revision = 2;
    disk_.Fill(50'000);
    try {
        publish::Publish(options);
        ADD_FAILURE() << "published on a full disk";
    } catch (const publish::EPublishError& e) {
        EXPECT_NE(std::string(e.what()).find(kNoSpace), std::string::npos) << e.what();
    }
    EXPECT_EQ(Snapshot(out), before);
    for (const auto& entry : fs::directory_iterator(dir_.path() / "disk"))
        EXPECT_EQ(entry.path().filename().string().find(".quenmor-"), std::string::npos)
            << entry.path();
}
