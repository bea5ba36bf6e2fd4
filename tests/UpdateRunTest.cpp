// The update run against a loopback server that serves an update tree, with
// a target that records every notification.
#include "Files.h"
#include "GetFilesThr.h"
#include "TestHttpServer.h"
#include "TestSupport.h"
#include "Text.h"
#include "md5.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <thread>

using namespace testing_support;
namespace fs = std::filesystem;
using Events = std::vector<std::string>;

namespace {

const std::string kFetch = "ShowStatus:Скачивание списка обновлений";
const std::string kFailed = "ShowStatus:Не удалось обновить";
const std::string kChecking = "ShowStatus:Проверка файлов";
const std::string kAllUpdated = "ShowStatus:Все файлы были обновлены";
const std::string kEmpty = "ShowStatus:";

class UpdateRunTest : public ::testing::Test {
protected:
    UpdateRunTest()
        : server_(TestHttpServer::Folder((dir_.path() / "server").string())),
          cwd_((fs::create_directories(dir_.path() / "install"), dir_.path() / "install")) {
        fs::create_directories(dir_.path() / "server");
    }

    // Publishes a file on the server and returns its manifest entry.
    std::string Publish(const std::string& path, const std::string& content) {
        const std::string compressed = Bzip2(content);
        WriteFile(dir_ / ("server/" + path + ".bz2"), compressed);
        return *platform::LocalPathToManifest(path) + "|" + Md5Hex(content) + "|" +
               std::to_string(compressed.size());
    }

    void PublishManifest(const std::string& settings, const Events& critical, const Events& normal,
                         const std::string& extra = {}) {
        std::string text = "[settings]\r\n" + settings + "[/settings]\r\n" + extra;
        text += "[files_critical]\r\n";
        for (const auto& e : critical)
            text += e + "\r\n";
        text += "[/files_critical]\r\n[files_normal]\r\n";
        for (const auto& e : normal)
            text += e + "\r\n";
        text += "[/files_normal]\r\n";
        WriteFile(dir_ / "server/files.lst.bz2", Bzip2(text));
    }

    void Install(const std::string& path, const std::string& content) {
        WriteFile(dir_ / ("install/" + path), content);
    }
    std::string Installed(const std::string& path) { return ReadFile(dir_ / ("install/" + path)); }
    bool IsInstalled(const std::string& path) { return Exists(dir_ / ("install/" + path)); }

    // One run, on its own thread, as the window starts it.
    void Run(int atRevision, bool fullCheck = false, int createBackup = 0,
             const std::string& url = {}) {
        GFilesThread thread(target_, [this](const std::function<void()>& notification) {
            ++dispatched_;
            notification();
            if (onNotify_)
                onNotify_(*current_, target_.Events().back());
        });
        current_ = &thread;
        thread.UpdateUrl = url.empty() ? server_.Url("/") : url;
        thread.FullCheck = fullCheck;
        thread.CreateBackup = createBackup;
        thread.AtRevision = atRevision;
        thread.ConnectTimeoutS = 2;
        thread.StallTimeoutS = 2;
        thread.Retry.firstPause = std::chrono::milliseconds(10);
        if (configure_)
            configure_(thread);
        RunToEnd(thread, dir_.path() / "install");
        current_ = nullptr;
    }

    Events Status() const { return target_.EventsWithoutFileProgress(); }

    // Copies and temporary files that a run left in the installation.
    std::vector<std::string> Leftovers() const {
        std::vector<std::string> found;
        for (const auto& file : fs::recursive_directory_iterator(dir_.path() / "install")) {
            const std::string name = file.path().filename().string();
            if (platform::IsOwnTempFileName(name) || file.path().extension() == ".bz2")
                found.push_back(name);
        }
        return found;
    }

    TempDir dir_;
    TestHttpServer server_;
    ScopedCurrentDir cwd_;
    RecordingTarget target_;
    int dispatched_ = 0;
    GFilesThread* current_ = nullptr;
    // Told of each notification the host ran, as the host recorded it.
    std::function<void(GFilesThread&, const std::string& event)> onNotify_;
    std::function<void(GFilesThread&)> configure_;
};

// The events of checking one section whose entries are all current.
Events CheckedCurrent(const std::vector<std::string>& paths) {
    Events e = {kChecking, "SetTotalGaugeMax:" + std::to_string(paths.size() - 1)};
    for (std::size_t i = 0; i < paths.size(); ++i) {
        e.push_back("SetTotalProgress:" + std::to_string(i));
        e.push_back("ShowStatus:Проверка " + paths[i]);
    }
    e.push_back("SetTotalProgress:0");
    e.push_back(kEmpty);
    return e;
}

// Content that bzip2 cannot shrink much.
std::string Noise(std::size_t size) {
    std::string text(size, '\0');
    std::uint32_t state = 12345;
    for (char& c : text) {
        state = state * 1103515245u + 12345u;
        c = static_cast<char>(state >> 24);
    }
    return text;
}

Events Concat(std::initializer_list<Events> parts) {
    Events all;
    for (const auto& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

} // namespace

TEST_F(UpdateRunTest, UnreachableManifestFailsAndUnlocks) {
    Install("system/a.dat", "mine");
    Run(3, false, 0, "http://127.0.0.1:" + std::to_string(TestHttpServer::ClosedPort()) + "/upd");
    EXPECT_EQ(target_.Events(),
              (Events{"LockCommands", kFetch, "SetFileProgress:0", kFailed, "UnlockCommands"}));
    EXPECT_EQ(Installed("system/a.dat"), "mine");
    EXPECT_FALSE(IsInstalled("files.lst"));
    EXPECT_FALSE(IsInstalled("files.lst.bz2"));
}

TEST_F(UpdateRunTest, EmptyAddressIsAManifestThatCannotBeFetched) {
    Run(3, false, 0, "");
    // Run() fills in the server when given nothing; use a run of our own.
    RecordingTarget target;
    GFilesThread thread(target);
    thread.Execute();
    EXPECT_EQ(target.Events(), (Events{"LockCommands", kFetch, kFailed, "UnlockCommands"}));
    EXPECT_TRUE(server_.Requests().size() <= 1u);
}

TEST_F(UpdateRunTest, AddressGetsOneTrailingSlash) {
    PublishManifest("Rev|1\r\nModHosts|0\r\n", {}, {});
    fs::create_directories(dir_.path() / "server/upd");
    fs::copy_file(dir_.path() / "server/files.lst.bz2", dir_.path() / "server/upd/files.lst.bz2");
    Run(1, false, 0, server_.Url("/upd"));
    Run(1, false, 0, server_.Url("/upd/"));
    const auto requests = server_.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].target, "/upd/files.lst.bz2");
    EXPECT_EQ(requests[1].target, "/upd/files.lst.bz2");
}

TEST_F(UpdateRunTest, EqualRevisionChecksOnlyCriticalFiles) {
    const std::string a = Publish("system/a.dat", "critical content");
    const std::string b = Publish("data/b.dat", "normal content");
    PublishManifest("Rev|5\r\nModHosts|0\r\n", {a}, {b});
    Install("system/a.dat", "critical content");
    Run(5);
    EXPECT_EQ(Status(), Concat({{"LockCommands", kFetch, kEmpty},
                                CheckedCurrent({"system\\a.dat"}),
                                {kEmpty, "UnlockCommands"}}));
    EXPECT_FALSE(IsInstalled("data/b.dat"));
    EXPECT_FALSE(IsInstalled("files.lst"));
    EXPECT_FALSE(IsInstalled("files.lst.bz2"));
    // Only the manifest was fetched.
    EXPECT_EQ(server_.Requests().size(), 1u);
}

TEST_F(UpdateRunTest, LowerRevisionIsNeverStored) {
    const std::string b = Publish("data/b.dat", "normal content");
    PublishManifest("Rev|4\r\nModHosts|0\r\n", {}, {b});
    Run(9);
    EXPECT_EQ(Status(), (Events{"LockCommands", kFetch, kEmpty, kEmpty, "UnlockCommands"}));
    EXPECT_FALSE(IsInstalled("data/b.dat"));
}

TEST_F(UpdateRunTest, GreaterRevisionChecksNormalFilesInstallsAndStoresTheRevision) {
    const std::string a = Publish("system/a.dat", "critical content");
    const std::string b = Publish("data/b.dat", "normal content");
    PublishManifest("Rev|6\r\nModHosts|0\r\n", {a}, {b});
    Install("system/a.dat", "critical content");
    Run(5);
    EXPECT_EQ(Status(),
              Concat({{"LockCommands", kFetch, kEmpty},
                      CheckedCurrent({"system\\a.dat"}),
                      {kChecking, "SetTotalGaugeMax:0", "SetTotalProgress:0",
                       "ShowStatus:Проверка data\\b.dat", "SetTotalProgress:0", kEmpty},
                      {"SetTotalGaugeMax:0", "ShowStatus:Загружается data\\b.dat",
                       "ShowStatus:Извлекается data\\b.dat", "SetTotalProgress:1",
                       "SetTotalProgress:0", "StoreRevision:6", kAllUpdated, "UnlockCommands"}}));
    EXPECT_EQ(Installed("data/b.dat"), "normal content");
    EXPECT_FALSE(IsInstalled("data/b.dat.bz2"));
    EXPECT_FALSE(IsInstalled("files.lst"));
}

TEST_F(UpdateRunTest, FullCheckAtEqualRevisionChecksNormalFilesWithoutStoring) {
    const std::string b = Publish("data/b.dat", "normal content");
    PublishManifest("Rev|5\r\nModHosts|0\r\n", {}, {b});
    Install("data/b.dat", "damaged");
    Run(5, true);
    EXPECT_EQ(Installed("data/b.dat"), "normal content");
    const Events status = Status();
    EXPECT_EQ(std::count(status.begin(), status.end(), "StoreRevision:5"), 0);
    EXPECT_EQ(status[status.size() - 2], kAllUpdated);
}

TEST_F(UpdateRunTest, MissingModHostsEndsTheRunWithTheFailureText) {
    const std::string b = Publish("data/b.dat", "normal content");
    PublishManifest("Rev|6\r\n", {b}, {});
    Run(1);
    EXPECT_EQ(Status(), (Events{"LockCommands", kFetch, kEmpty, kFailed, "UnlockCommands"}));
    EXPECT_FALSE(IsInstalled("files.lst"));
    EXPECT_FALSE(IsInstalled("data/b.dat"));
}

TEST_F(UpdateRunTest, NonNumericRevisionEndsTheRunTheSameWay) {
    PublishManifest("Rev\r\nModHosts|0\r\n", {}, {});
    Run(1);
    EXPECT_EQ(Status(), (Events{"LockCommands", kFetch, kEmpty, kFailed, "UnlockCommands"}));
}

TEST_F(UpdateRunTest, DamagedManifestFails) {
    WriteFile(dir_ / "server/files.lst.bz2", "<html>404</html>");
    Install("files.lst", "stale manifest of a killed run");
    Run(1);
    EXPECT_EQ(Status(),
              (Events{"LockCommands", kFetch, kEmpty, kFailed, kFailed, "UnlockCommands"}));
    EXPECT_FALSE(IsInstalled("files.lst"));
    EXPECT_FALSE(IsInstalled("files.lst.bz2"));
}

TEST_F(UpdateRunTest, FailedFileIsReportedButTheRevisionIsStillStored) {
    const std::string a = Publish("a.dat", "content a");
    const std::string c = Publish("c.dat", "content c");
    const std::string missing = "b.dat|" + Md5Hex("content b") + "|10";
    PublishManifest("Rev|2\r\nModHosts|0\r\n", {}, {a, missing, c});
    Install("b.dat", "old b");
    Run(1);
    const Events status = Status();
    ASSERT_GE(status.size(), 3u);
    EXPECT_EQ(status[status.size() - 3], "StoreRevision:2");
    EXPECT_EQ(status[status.size() - 2], kFailed);
    EXPECT_EQ(Installed("a.dat"), "content a");
    EXPECT_EQ(Installed("b.dat"), "old b"); // an error page never replaces a file
    EXPECT_EQ(Installed("c.dat"), "content c");
    EXPECT_FALSE(IsInstalled("b.dat.bz2"));
}

TEST_F(UpdateRunTest, CopyWithTheWrongDigestIsNotInstalled) {
    std::string entry = Publish("a.dat", "what the server has");
    entry = "a.dat|" + Md5Hex("what the manifest promises") + entry.substr(entry.rfind('|'));
    PublishManifest("Rev|2\r\nModHosts|0\r\n", {entry}, {});
    Install("a.dat", "old");
    Run(2);
    EXPECT_EQ(Installed("a.dat"), "old");
    EXPECT_EQ(Status()[Status().size() - 2], kFailed);
}

TEST_F(UpdateRunTest, FourPendingEntriesMoveTheOverallGaugeByEntries) {
    Events entries;
    for (const char* name : {"1.dat", "2.dat", "3.dat", "4.dat"})
        entries.push_back(Publish(name, std::string("content of ") + name));
    PublishManifest("Rev|1\r\nModHosts|0\r\n", entries, {});
    Run(1);
    const Events status = Status();
    const auto installStart = std::find(status.begin(), status.end(), "SetTotalGaugeMax:3");
    ASSERT_NE(installStart, status.end());
    const auto second = std::find(installStart + 1, status.end(), "SetTotalGaugeMax:3");
    ASSERT_NE(second, status.end()) << "checking and installing both set the maximum";
    Events totals;
    for (auto it = second; it != status.end(); ++it)
        if (it->rfind("SetTotalProgress:", 0) == 0)
            totals.push_back(*it);
    EXPECT_EQ(totals, (Events{"SetTotalProgress:1", "SetTotalProgress:2", "SetTotalProgress:3",
                              "SetTotalProgress:4", "SetTotalProgress:0"}));
    for (const char* name : {"1.dat", "2.dat", "3.dat", "4.dat"})
        EXPECT_EQ(Installed(name), std::string("content of ") + name);
}

TEST_F(UpdateRunTest, UppercaseDigestNeverMatches) {
    std::string entry = Publish("a.dat", "same");
    const std::size_t d = entry.find('|') + 1;
    for (std::size_t i = d; i < d + 32; ++i)
        entry[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(entry[i])));
    PublishManifest("Rev|1\r\nModHosts|0\r\n", {entry}, {});
    Install("a.dat", "same");
    Run(1);
    // Fetched, and then refused, since the content never has that digest text.
    EXPECT_EQ(server_.Requests().size(), 2u);
    EXPECT_EQ(Installed("a.dat"), "same");
}

TEST_F(UpdateRunTest, BackupsKeepReplacedFilesOfThisRunOnly) {
    const std::string a = Publish("data/a.dat", "new a");
    const std::string n = Publish("data/new.dat", "brand new");
    PublishManifest("Rev|2\r\nModHosts|0\r\n", {}, {a, n});
    Install("data/a.dat", "old a");
    Install("backup/stale.txt", "from an earlier run");
    Run(1, false, 1);
    EXPECT_EQ(Installed("data/a.dat"), "new a");
    EXPECT_EQ(Installed("backup/data/a.dat"), "old a");
    EXPECT_FALSE(IsInstalled("backup/data/new.dat"));
    EXPECT_FALSE(IsInstalled("backup/stale.txt"));
    EXPECT_EQ(Installed("data/new.dat"), "brand new");
}

TEST_F(UpdateRunTest, StopRequestFinishesTheCurrentEntryAndSkipsTheRest) {
    Events entries;
    for (const char* name : {"1.dat", "2.dat", "3.dat"})
        entries.push_back(Publish(name, name));
    PublishManifest("Rev|1\r\nModHosts|0\r\n", entries, {});
    onNotify_ = [](GFilesThread& thread, const std::string& event) {
        if (event == "ShowStatus:Загружается 1.dat")
            thread.Terminate();
    };
    Run(1);
    EXPECT_TRUE(IsInstalled("1.dat"));
    EXPECT_FALSE(IsInstalled("2.dat"));
    EXPECT_FALSE(IsInstalled("3.dat"));
    // Not through: no success claimed and no revision recorded.
    const Events status = Status();
    ASSERT_GE(status.size(), 2u);
    EXPECT_EQ(status[status.size() - 2], kFailed);
    EXPECT_EQ(status.back(), "UnlockCommands");
    for (const auto& event : status)
        EXPECT_NE(event.rfind("StoreRevision", 0), 0u) << event;
}

TEST_F(UpdateRunTest, StopRequestDuringTheCheckInstallsNothing) {
    Events entries;
    for (const char* name : {"1.dat", "2.dat", "3.dat"})
        entries.push_back(Publish(name, name));
    PublishManifest("Rev|1\r\nModHosts|0\r\n", entries, {});
    onNotify_ = [](GFilesThread& thread, const std::string& event) {
        if (event == "ShowStatus:Проверка 2.dat")
            thread.Terminate();
    };
    Run(1);
    for (const char* name : {"1.dat", "2.dat", "3.dat"})
        EXPECT_FALSE(IsInstalled(name)) << name;
    EXPECT_EQ(Status()[Status().size() - 2], kFailed);
    EXPECT_FALSE(IsInstalled("files.lst"));
}

// A stop that does not wait cuts a transfer that is going nowhere: the run ends
// long before the stall limit, the installed file untouched, nothing left.
TEST_F(UpdateRunTest, AbortCutsAStalledTransferAndKeepsTheOldFile) {
    const std::string entry = Publish("data/a.dat", Noise(100000));
    PublishManifest("Rev|2\r\nModHosts|0\r\n", {entry}, {});
    Install("data/a.dat", "old");
    const std::string root = (dir_.path() / "server").string();
    TestHttpServer stalling([files = TestHttpServer::Folder(root)](const HttpRequest& request) {
        HttpReply reply = files(request);
        if (request.target.find("a.dat") != std::string::npos) {
            reply.fault = HttpReply::Fault::StallInBody;
            reply.cutAt = 5000;
        }
        return reply;
    });
    GFilesThread* running = nullptr;
    GFilesThread thread(target_, [&](const std::function<void()>& notification) {
        notification();
        if (!target_.Values("SetFileProgress").empty() &&
            target_.Values("SetFileProgress").back() >= 4096)
            running->Abort();
    });
    running = &thread;
    thread.UpdateUrl = stalling.Url("/");
    thread.AtRevision = 1;
    thread.StallTimeoutS = 30;
    const auto started = std::chrono::steady_clock::now();
    RunToEnd(thread, dir_.path() / "install", std::chrono::seconds(20));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
    EXPECT_TRUE(Installed("data/a.dat") == "old");
    EXPECT_FALSE(IsInstalled("data/a.dat.bz2"));
    EXPECT_FALSE(IsInstalled("files.lst"));
    const Events status = Status();
    EXPECT_EQ(status[status.size() - 2], kFailed);
    EXPECT_EQ(status.back(), "UnlockCommands");
}

namespace {

// What a window gauge shows as the run's notifications reach it: the
// percentages it draws, in order, and its final maximum and progress.
struct ShownGauge {
    std::int64_t max = 100, progress = 0;
    std::vector<std::int64_t> drawn;

    std::int64_t Percent() const { return max > 0 ? progress * 100 / max : 0; }
    void SetMax(std::int64_t value) {
        max = value;
        progress = std::min(progress, max);
        drawn.push_back(Percent());
    }
    void SetProgress(std::int64_t value) {
        const std::int64_t before = Percent();
        progress = std::clamp<std::int64_t>(value, 0, max);
        if (Percent() != before)
            drawn.push_back(Percent());
    }
};

ShownGauge Replay(const Events& events, const std::string& maxKind,
                  const std::string& progressKind) {
    ShownGauge gauge;
    for (const auto& event : events) {
        const std::size_t colon = event.find(':');
        const std::string kind = event.substr(0, colon);
        if (kind == maxKind)
            gauge.SetMax(std::stoll(event.substr(colon + 1)));
        else if (kind == progressKind)
            gauge.SetProgress(std::stoll(event.substr(colon + 1)));
    }
    return gauge;
}

} // namespace

// Leaving out progress that changes no percentage, or comes too soon after
// the last, shows the player the same gauges with a fraction of the
// notifications: for a download that reports every block, and for a whole
// run, whose entries fetched ahead report what they reached.
TEST_F(UpdateRunTest, CoalescedProgressShowsTheSameGauges) {
    const std::string big = Noise(1500000);
    Events entries;
    for (int i = 0; i < 5; ++i)
        entries.push_back(Publish("f" + std::to_string(i) + ".dat", std::to_string(i)));
    entries.push_back(Publish("big.dat", big));
    PublishManifest("Rev|1\r\nModHosts|0\r\n", entries, {});

    const auto runOnce = [&](bool coalesce, bool downloadOnly) {
        for (const auto& file : fs::directory_iterator(dir_ / "install"))
            fs::remove_all(file.path());
        RecordingTarget target;
        const auto inPlace = [](const std::function<void()>& n) { n(); };
        if (downloadOnly) {
            RunTransfer transfer(target, inPlace, {coalesce, false});
            // A gauge whose maximum is known, as for an entry.
            transfer.notifier().SetGaugeMax(TRunGauge::File,
                                            static_cast<std::int64_t>(Bzip2(big).size()));
            EXPECT_TRUE(transfer.Download(server_.Url("/big.dat.bz2"), dir_ / "big.bz2", true));
            // Whatever comes next shows the gauge as it stands.
            transfer.notifier().SetGaugeMax(TRunGauge::Total, 1);
            return target.Events();
        }
        GFilesThread thread(target, inPlace);
        thread.UpdateUrl = server_.Url("/");
        thread.CoalesceProgress = coalesce;
        RunToEnd(thread, dir_.path() / "install");
        return target.Events();
    };
    const auto count = [](const Events& events, const std::string& kind) {
        return std::count_if(events.begin(), events.end(),
                             [&](const std::string& e) { return e.rfind(kind + ":", 0) == 0; });
    };
    const auto withoutProgress = [](Events events) {
        std::erase_if(events, [](const std::string& e) { return e.find("Progress:") != e.npos; });
        return events;
    };

    const Events every = runOnce(false, true);
    const Events coalesced = runOnce(true, true);
    const ShownGauge a = Replay(every, "SetFileGaugeMax", "SetFileProgress");
    const ShownGauge b = Replay(coalesced, "SetFileGaugeMax", "SetFileProgress");
    // What the coalesced download draws is drawn by the full one too, in the
    // same order (some steps less), and the gauges end alike.
    auto next = a.drawn.begin();
    for (const std::int64_t percent : b.drawn) {
        next = std::find(next, a.drawn.end(), percent);
        ASSERT_NE(next, a.drawn.end()) << "drew " << percent;
        ++next;
    }
    EXPECT_EQ(a.max, b.max);
    EXPECT_EQ(a.progress, b.progress);
    EXPECT_GT(count(every, "SetFileProgress"), 1000);
    EXPECT_LT(count(coalesced, "SetFileProgress"), count(every, "SetFileProgress") / 3);

    const Events run = runOnce(false, false);
    const Events coalescedRun = runOnce(true, false);
    EXPECT_TRUE(Installed("big.dat") == big);
    for (const auto& [maxKind, progressKind] :
         {std::pair<std::string, std::string>{"SetFileGaugeMax", "SetFileProgress"},
          {"SetTotalGaugeMax", "SetTotalProgress"}}) {
        const ShownGauge full = Replay(run, maxKind, progressKind);
        const ShownGauge fewer = Replay(coalescedRun, maxKind, progressKind);
        EXPECT_EQ(full.max, fewer.max) << progressKind;
        EXPECT_EQ(full.progress, fewer.progress) << progressKind;
    }
    EXPECT_LE(count(coalescedRun, "SetFileProgress"), count(run, "SetFileProgress"));
    // Everything but progress is sent as before.
    EXPECT_EQ(withoutProgress(run), withoutProgress(coalescedRun));
}

TEST_F(UpdateRunTest, LeftoversOfAKilledRunAreRemovedButGameFilesAreNot) {
    const std::string a = Publish("data/a.dat", "a");
    const std::string music = Publish("music", "music");
    const std::string musicBz2 = Publish("music.bz2", "a game file that is bzip2 data");
    PublishManifest("Rev|1\r\nModHosts|0\r\n", {a, music, musicBz2}, {});
    Install("data/a.dat", "a");
    Install("data/a.dat.bz2", "half a download");
    Install("data/.quenmor-tmp-AbC123", "half an unpack");
    Install("data/unlisted.bz2", "not ours");
    Install("music", "music");
    Install("music.bz2", "a game file that is bzip2 data");
    Run(1);
    EXPECT_FALSE(IsInstalled("data/a.dat.bz2"));
    EXPECT_FALSE(IsInstalled("data/.quenmor-tmp-AbC123"));
    EXPECT_TRUE(IsInstalled("data/unlisted.bz2"));
    EXPECT_EQ(Installed("music.bz2"), "a game file that is bzip2 data");
}

TEST_F(UpdateRunTest, UnsafePathsAreNeverTouched) {
    const std::string good = Publish("good.dat", "good");
    WriteFile(dir_ / "outside.txt", "outside");
    const std::string bad = "..\\outside.txt|" + Md5Hex("evil") + "|10";
    PublishManifest("Rev|1\r\nModHosts|0\r\n", {bad, good}, {});
    Run(1);
    EXPECT_EQ(ReadFile(dir_ / "outside.txt"), "outside");
    EXPECT_EQ(Installed("good.dat"), "good");
    EXPECT_EQ(Status()[Status().size() - 2], kFailed);
}

TEST_F(UpdateRunTest, NamesWithBlanksAndCyrillicLettersAreFetched) {
    const std::string a = Publish("Мир данных/карта 1.dat", "map");
    PublishManifest("Rev|1\r\nModHosts|0\r\n", {a}, {});
    Run(1);
    EXPECT_EQ(Installed("Мир данных/карта 1.dat"), "map");
}

TEST_F(UpdateRunTest, EverythingCurrentFetchesOnlyTheManifest) {
    const std::string a = Publish("a.dat", "a");
    PublishManifest("Rev|3\r\nModHosts|0\r\n", {a}, {});
    Install("a.dat", "a");
    Run(3, true);
    EXPECT_EQ(server_.Requests().size(), 1u);
    EXPECT_EQ(Status()[Status().size() - 2], kEmpty);
    EXPECT_FALSE(IsInstalled("files.lst"));
    EXPECT_FALSE(IsInstalled("files.lst.bz2"));
    EXPECT_GT(dispatched_, 0);
}

// Newer trees list each file's content size: a file of another size is out of
// date without its digest, and only its digest tells a file current.
TEST_F(UpdateRunTest, TheListedContentSizeTellsAChangedFileButOnlyTheDigestACurrentOne) {
    const auto sized = [&](const std::string& path, const std::string& content) {
        TSHA256 sha;
        sha.Update(content.data(), content.size());
        return std::to_string(content.size()) + "|" + sha.FinalText() + "|" +
               Publish(path, content);
    };
    PublishManifest("Rev|3\r\nModHosts|0\r\n",
                    {sized("current.dat", "current"), sized("grown.dat", "new content"),
                     sized("shrunk.dat", "new"), sized("same-size.dat", "abc")},
                    {});
    Install("current.dat", "current");
    Install("grown.dat", "old");
    Install("shrunk.dat", "the old content");
    Install("same-size.dat", "xyz");
    Run(3, true);
    std::set<std::string> fetched;
    for (const auto& request : server_.Requests())
        fetched.insert(request.target);
    EXPECT_EQ(fetched, (std::set<std::string>{"/files.lst.bz2", "/grown.dat.bz2", "/shrunk.dat.bz2",
                                              "/same-size.dat.bz2"}));
    EXPECT_EQ(Installed("grown.dat"), "new content");
    EXPECT_EQ(Installed("shrunk.dat"), "new");
    EXPECT_EQ(Installed("same-size.dat"), "abc");
    EXPECT_EQ(Status()[Status().size() - 2], kAllUpdated);
}

TEST_F(UpdateRunTest, ListedBz2FileSurvivesTheDownloadOfItsNamesake) {
    const std::string music = Publish("music", "new music");
    const std::string musicBz2 = Publish("music.bz2", "a game file that is bzip2 data");
    PublishManifest("Rev|2\r\nModHosts|0\r\n", {musicBz2, music}, {});
    Install("music", "old music");
    Install("music.bz2", "a game file that is bzip2 data");
    Run(1);
    EXPECT_EQ(Installed("music"), "new music");
    EXPECT_EQ(Installed("music.bz2"), "a game file that is bzip2 data");
    EXPECT_EQ(Status().end()[-2], kAllUpdated);
    for (const auto& e : fs::directory_iterator(dir_.path() / "install"))
        EXPECT_EQ(e.path().filename().string().find(".quenmor-tmp-"), std::string::npos);
}

TEST_F(UpdateRunTest, FilesInstalledWithAnotherLetterCaseAreNotFetchedAgain) {
    const std::string a = Publish("system/zentyr.exe", "game");
    PublishManifest("Rev|1\r\nModHosts|0\r\n", {a}, {});
    Install("System/Zentyr.EXE", "game");
    Run(1);
    EXPECT_EQ(server_.Requests().size(), 1u);
    if (platform::kPathSeparator == '/') { // a file system that tells the cases apart
        EXPECT_FALSE(IsInstalled("system/zentyr.exe"));
    }
}

// Work done ahead changes nothing the player sees: a run with entries fetched
// and unpacked ahead on several connections sends the same notifications,
// gauges and texts as one that works on one entry at a time, through a failed
// unpack in the middle, an entry listed twice, names in other letter cases,
// and backups.
TEST_F(UpdateRunTest, WorkAheadShowsWhatAnEntryByEntryRunShows) {
    Events critical, normal;
    for (int i = 0; i < 12; ++i)
        normal.push_back(Publish("data/f" + std::to_string(i) + ".dat",
                                 Noise(static_cast<std::size_t>(1000 + 30000 * (i % 4)))));
    critical.push_back(normal[3]); // listed twice
    std::string wrong = Publish("data/wrong.dat", "what the server has");
    wrong = "data\\wrong.dat|" + Md5Hex("what the manifest says") + wrong.substr(wrong.rfind('|'));
    normal.insert(normal.begin() + 5, wrong);
    normal.push_back(Publish("DATA/Other.dat", "other letter case"));
    PublishManifest("Rev|2\r\nModHosts|0\r\n", critical, normal);

    const auto runWith = [&](bool ahead) {
        for (const auto& file : fs::directory_iterator(dir_.path() / "install"))
            fs::remove_all(file.path());
        for (int i = 0; i < 12; i += 2)
            Install("data/f" + std::to_string(i) + ".dat", "old");
        configure_ = [ahead](GFilesThread& thread) {
            thread.Connections = ahead ? 4 : 1;
            thread.AheadBudget = ahead ? thread.AheadBudget : 0; // nothing beyond the entry
        };
        target_.Clear();
        Run(1, false, 1);
        return Status();
    };
    const Events byEntry = runWith(false);
    const Events ahead = runWith(true);
    EXPECT_EQ(ahead, byEntry);
    EXPECT_EQ(ahead[ahead.size() - 2], kFailed);
    EXPECT_FALSE(IsInstalled("data/wrong.dat"));
    EXPECT_EQ(Installed("data/Other.dat"), "other letter case"); // into the existing folder
    EXPECT_EQ(Installed("backup/data/f2.dat"), "old");
    EXPECT_EQ(Leftovers(), std::vector<std::string>{});
}

// The entry being installed counts in the disk budget of the work ahead: while
// a copy larger than the budget comes, nothing after it is fetched, so a
// large (or an unduly growing) file leaves no room on the disk for others.
TEST_F(UpdateRunTest, EntryBeingInstalledCountsInTheBudgetOfTheWorkAhead) {
    const std::string root = (dir_.path() / "server").string();
    using Clock = std::chrono::steady_clock;
    std::mutex mutex;
    std::map<std::string, Clock::time_point> asked;
    TestHttpServer timed([&, files = TestHttpServer::Folder(root)](const HttpRequest& request) {
        {
            const std::lock_guard lock(mutex);
            asked.emplace(request.target, Clock::now());
        }
        HttpReply reply = files(request);
        if (request.target == "/big.dat.bz2")
            reply.delay = std::chrono::milliseconds(400);
        return reply;
    });
    Events entries = {Publish("big.dat", Noise(300'000))};
    for (const char* name : {"a.dat", "b.dat", "c.dat"})
        entries.push_back(Publish(name, std::string("new ") + name));
    PublishManifest("Rev|2\r\nModHosts|0\r\n", {}, entries);
    configure_ = [](GFilesThread& thread) { thread.AheadBudget = 100'000; };
    Run(1, false, 0, timed.Url("/"));
    EXPECT_EQ(Status()[Status().size() - 2], kAllUpdated);
    const std::lock_guard lock(mutex);
    for (const char* name : {"/a.dat.bz2", "/b.dat.bz2", "/c.dat.bz2"})
        EXPECT_GE(asked.at(name) - asked.at("/big.dat.bz2"), std::chrono::milliseconds(350))
            << name << " was fetched beside the large copy";
}

// The first copy that cannot be fetched ends installing: what was fetched
// ahead of it is never installed, and nothing of it stays on disk.
TEST_F(UpdateRunTest, FailedDownloadStopsInstallingWhateverWasFetchedAhead) {
    const std::string root = (dir_.path() / "server").string();
    TestHttpServer refusing([files = TestHttpServer::Folder(root)](const HttpRequest& request) {
        HttpReply reply = files(request);
        if (request.target.find("b.dat") != std::string::npos) {
            reply.fault = HttpReply::Fault::CloseBeforeHeaders;
            reply.delay = std::chrono::milliseconds(100); // long after the others arrived
        }
        return reply;
    });
    Events entries;
    for (const char* name : {"a.dat", "b.dat", "c.dat", "d.dat"})
        entries.push_back(Publish(name, std::string("new ") + name));
    PublishManifest("Rev|2\r\nModHosts|0\r\n", entries, {});
    Install("c.dat", "old c");
    Run(1, false, 0, refusing.Url("/"));
    EXPECT_EQ(Installed("a.dat"), "new a.dat");
    EXPECT_FALSE(IsInstalled("b.dat"));
    EXPECT_EQ(Installed("c.dat"), "old c");
    EXPECT_FALSE(IsInstalled("d.dat"));
    const auto requests = refusing.Requests();
    EXPECT_TRUE(std::any_of(requests.begin(), requests.end(), [](const HttpRequest& r) {
        return r.target == "/d.dat.bz2";
    })) << "d.dat was fetched ahead";
    EXPECT_EQ(Leftovers(), std::vector<std::string>{});
    const Events status = Status();
    EXPECT_EQ(status[status.size() - 2], kFailed);
    EXPECT_EQ(std::count(status.begin(), status.end(), "ShowStatus:Загружается c.dat"), 0);
}

// Gauges take 32-bit values: a maximum past that range is scaled down by a
// power of two, and so are the values shown against it, until the gauge gets
// a maximum that fits again.
TEST_F(UpdateRunTest, GaugesPast32BitsAreScaledByOnePowerOfTwo) {
    WriteFile(dir_ / "server/small.bin", std::string(4096, 'x'));
    RecordingTarget target;
    RunTransfer transfer(target);
    transfer.notifier().SetGaugeMax(TRunGauge::File, std::int64_t{5} << 30);
    transfer.notifier().SetGaugeMax(TRunGauge::Total, 7);
    ASSERT_TRUE(transfer.Download(server_.Url("/small.bin"), dir_ / "small.bin", true));
    transfer.notifier().SetGaugeMax(TRunGauge::File, 4096);
    ASSERT_TRUE(transfer.Download(server_.Url("/small.bin"), dir_ / "small.bin", true));
    const Events events = target.Events();
    EXPECT_EQ(events[0], "SetFileGaugeMax:1342177280"); // 5 GiB / 4
    EXPECT_EQ(events[1], "SetTotalGaugeMax:7");
    EXPECT_EQ(events[2], "SetFileProgress:256"); // 1024 / 4
    const auto rescaled = std::find(events.begin(), events.end(), "SetFileGaugeMax:4096");
    ASSERT_NE(rescaled, events.end());
    EXPECT_EQ(*(rescaled + 1), "SetFileProgress:1024");
}

// A quarter of the connections take the largest copies first, whatever their
// place in the manifest; the others go in order.
TEST_F(UpdateRunTest, LargestCopiesAreFetchedBesideTheEntriesInOrder) {
    const std::string root = (dir_.path() / "server").string();
    TestHttpServer slow([files = TestHttpServer::Folder(root)](const HttpRequest& request) {
        HttpReply reply = files(request);
        reply.delay = std::chrono::milliseconds(100); // none ends before all four began
        return reply;
    });
    Events entries;
    for (int i = 0; i < 8; ++i)
        entries.push_back(Publish("s" + std::to_string(i) + ".dat", "small"));
    entries.push_back(Publish("large.dat", Noise(600 * 1024)));
    PublishManifest("Rev|1\r\nModHosts|0\r\n", entries, {});
    configure_ = [](GFilesThread& thread) { thread.Connections = 4; };
    Run(1, false, 0, slow.Url("/"));
    std::vector<std::string> first;
    for (const HttpRequest& request : slow.Requests())
        if (request.target != "/files.lst.bz2" && first.size() < 4)
            first.push_back(request.target);
    std::sort(first.begin(), first.end());
    EXPECT_EQ(first, (std::vector<std::string>{"/large.dat.bz2", "/s0.dat.bz2", "/s1.dat.bz2",
                                               "/s2.dat.bz2"}));
    EXPECT_TRUE(Installed("large.dat") == Noise(600 * 1024));
}

// Batched notifications reach the host as they were sent, in order and with
// their values, in a fraction of the hand-overs; one that the host refuses
// stops the rest of its batch and ends the run as any refusal does.
TEST_F(UpdateRunTest, BatchedNotificationsArriveAsSentInFewerHandOvers) {
    Events entries;
    for (int i = 0; i < 30; ++i)
        entries.push_back(Publish("f" + std::to_string(i) + ".dat", Noise(2000)));
    PublishManifest("Rev|2\r\nModHosts|0\r\n", entries, {});
    const auto runWith = [&](bool batched, const std::string& refused) {
        for (const auto& file : fs::directory_iterator(dir_.path() / "install"))
            if (file.path().filename() != "backup")
                fs::remove_all(file.path());
        target_.Clear();
        dispatched_ = 0;
        configure_ = [batched](GFilesThread& thread) { thread.BatchNotifications = batched; };
        if (!refused.empty())
            target_.Refuse(refused);
        Run(1);
        return std::make_pair(Status(), dispatched_);
    };
    const auto [one, handOvers] = runWith(false, "");
    const auto [batched, batchedHandOvers] = runWith(true, "");
    EXPECT_EQ(batched, one);
    EXPECT_LT(batchedHandOvers * 3, handOvers);

    // A refusal is no failure of the file being installed when it is handed
    // over, whether it was sent before that file's unpacking or during it,
    // and whether notifications are batched or not: it ends the run.
    for (const bool batch : {true, false}) {
        for (const std::string shown : {"Загружается f3.dat", "Извлекается f3.dat"}) {
            SCOPED_TRACE(shown + (batch ? ", batched" : ""));
            const auto [refused, ignored] = runWith(batch, "ShowStatus:" + shown);
            static_cast<void>(ignored);
            const auto at = std::find(refused.begin(), refused.end(), "ShowStatus:" + shown);
            EXPECT_EQ(at, refused.end()); // refused, so not recorded
            EXPECT_EQ(std::count(refused.begin(), refused.end(), "ShowStatus:Загружается f4.dat"),
                      0);
            ASSERT_GE(refused.size(), 2u);
            EXPECT_EQ(refused[refused.size() - 2], kFailed);
            EXPECT_EQ(refused.back(), "UnlockCommands");
        }
    }
}

// How soon an abort (the window's request once the entry in hand has had its
// time) ends a run in each of the phases where the run waits on the
// server: a manifest that does not come, a pause that the server asked for
// before a retry, a copy that does not come. Each wait ends on the request,
// not at its own deadline of 20 s or more; the figures go to the test's
// output.
TEST_F(UpdateRunTest, AnAbortEndsTheRunInEveryPhaseThatWaitsOnTheServer) {
    const std::string entry = Publish("f.dat", Noise(100000));
    PublishManifest("Rev|2\r\nModHosts|0\r\n", {entry}, {});
    const std::string root = (dir_.path() / "server").string();
    struct Phase {
        const char* name;
        const char* target; // the address the server holds back
        const char* shown;  // the status shown while it waits
        std::function<void(HttpReply&)> holdBack;
    };
    const std::vector<Phase> phases = {
        {"manifest transfer", "/files.lst.bz2", "ShowStatus:Скачивание списка обновлений",
         [](HttpReply& reply) { reply.fault = HttpReply::Fault::StallBeforeHeaders; }},
        {"retry pause", "/files.lst.bz2", "ShowStatus:Скачивание списка обновлений",
         [](HttpReply& reply) {
             reply = HttpReply{};
             reply.status = 503;
             reply.headers = {{"Retry-After", "20"}};
         }},
        {"copy transfer", "/f.dat.bz2", "ShowStatus:Загружается f.dat",
         [](HttpReply& reply) {
             reply.fault = HttpReply::Fault::StallInBody;
             reply.cutAt = 5000;
         }},
    };
    configure_ = [](GFilesThread& thread) {
        thread.StallTimeoutS = 60;
        thread.Retry.maxWait = std::chrono::seconds(60);
    };
    for (const Phase& phase : phases) {
        SCOPED_TRACE(phase.name);
        TestHttpServer server([files = TestHttpServer::Folder(root), &phase](const HttpRequest& r) {
            HttpReply reply = files(r);
            if (r.target == phase.target)
                phase.holdBack(reply);
            return reply;
        });
        std::atomic<bool> shown{false};
        onNotify_ = [&](GFilesThread&, const std::string& event) {
            if (event == phase.shown)
                shown = true;
        };
        std::chrono::steady_clock::time_point abortedAt{};
        std::thread aborting([&] {
            for (int i = 0; i < 10000 && !shown; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            std::this_thread::sleep_for(std::chrono::milliseconds(300)); // well into the wait
            abortedAt = std::chrono::steady_clock::now();
            if (shown)
                current_->Abort();
        });
        Run(1, false, 0, server.Url("/"));
        const auto ended = std::chrono::steady_clock::now();
        aborting.join();
        const double seconds = std::chrono::duration<double>(ended - abortedAt).count();
        std::printf("abort during the %s: the run ended %.3f s later\n", phase.name, seconds);
        // The request wakes every wait: a transfer that waits on the network
        // does not wait for libcurl's next progress call, about a second away
        // while nothing arrives.
        EXPECT_LT(seconds, 0.6);
        EXPECT_EQ(Status()[Status().size() - 2], kFailed);
        EXPECT_FALSE(IsInstalled("f.dat"));
        target_.Clear();
    }
}
