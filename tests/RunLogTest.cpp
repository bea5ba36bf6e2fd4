// The run log: its lines for each kind of failure (a copy the server does
// not have, a transfer cut short on every try, content that does not match
// its digest, a full disk, a hosts file that cannot be written), as the
// headless runner writes them into its log file and prints them with
// --verbose, its first cause as its last line on stderr; and the log file's
// bound in size. Also what the runner prints around them: the line that ends
// every run, and a stop by Ctrl-C.
#include "RunLog.h"
#include "ChildProcess.h"
#include "Files.h"
#include "TestHttpServer.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <thread>

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

const std::string kOld = "the old content";
const std::string kNew = SampleData(300'000, 7);

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

// Whether a line holds every one of `parts`.
bool HasLine(const std::vector<std::string>& lines, const std::vector<std::string>& parts) {
    for (const std::string& line : lines) {
        bool all = true;
        for (const std::string& part : parts)
            all = all && line.find(part) != std::string::npos;
        if (all)
            return true;
    }
    return false;
}

class RunLogTest : public ::testing::Test {
protected:
    RunLogTest()
        : files_(TestHttpServer::Folder(Path("server"))),
          server_([this](const HttpRequest& request) {
              const std::function<HttpReply(const HttpRequest&)> handler = Handler();
              return handler ? handler(request) : files_(request);
          }) {
        fs::create_directories(dir_.path() / "server");
        fs::create_directories(dir_.path() / "etc");
        WriteFile(Path("etc/hosts"), "127.0.0.1\tlocalhost\n");
    }

    std::string Path(const std::string& relative) const { return dir_ / relative; }

    // Publishes data\a.dat as `content` (its copy `copy`, when given), and
    // the hosts entry when `hosts`; installs kOld in `install`.
    void Prepare(const std::string& install, const std::string& content,
                 std::optional<std::string> copy = std::nullopt, bool hosts = false) {
        install_ = install;
        const std::string compressed = copy ? *copy : Bzip2(content);
        WriteFile(Path("server/data/a.dat.bz2"), compressed);
        WriteFile(Path("server/files.lst.bz2"),
                  Bzip2("[settings]\r\nRev|2\r\nModHosts|" + std::string(hosts ? "1" : "0") +
                        "\r\n[/settings]\r\n[hosts]\r\n10.1.2.3|login.quenmor.example\r\n"
                        "[/hosts]\r\n[files_normal]\r\ndata\\a.dat|" +
                        Md5Hex(content) + "|" + std::to_string(compressed.size()) +
                        "\r\n[/files_normal]\r\n"));
        WriteFile(Path(install + "/data/a.dat"), kOld);
        WriteFile(Path(install + "/Quenmor.ini"),
                  "[main]\r\nUpdatesUrl=" + server_.Url("/") + "\r\nAtRevision=1\r\n");
    }

    // Runs quenmor-update --log in the installation (with --verbose unless
    // told otherwise); its exit code.
    int Run(const std::string& hostsFolder, bool verbose = true) {
        std::vector<std::string> arguments = {"--log", Path("run.log"), "--hosts-dir", hostsFolder};
        if (verbose)
            arguments.insert(arguments.begin(), "--verbose");
        ChildProcess child(BuildPath(QUENMOR_UPDATE_PATH), arguments, Path(install_),
                           Path("output.txt"));
        const auto ending = child.Wait(ChildProcess::Clock::now() + std::chrono::seconds(90));
        EXPECT_TRUE(ending) << "the run did not end";
        return ending ? ending->code : -1;
    }

    // Expects a failed run whose log file and verbose output hold a failure
    // line with all of `parts`, and whose output ends with the first cause.
    void ExpectFailure(int code, const std::vector<std::string>& parts) {
        EXPECT_EQ(code, 1) << ReadFile(Path("output.txt"));
        const auto log = Lines(ReadFile(Path("run.log")));
        const auto output = Lines(ReadFile(Path("output.txt")));
        std::vector<std::string> failure = parts;
        failure.insert(failure.begin(), " failure ");
        EXPECT_TRUE(HasLine(log, failure)) << ReadFile(Path("run.log"));
        EXPECT_TRUE(HasLine(output, failure)) << ReadFile(Path("output.txt"));
        EXPECT_TRUE(HasLine(log, {" start UpdatesUrl=" + server_.Url("/"), "AtRevision=1"}));
        EXPECT_TRUE(HasLine(log, {" end Не удалось обновить"}));
        ASSERT_FALSE(output.empty());
        std::vector<std::string> last = parts;
        last.insert(last.begin(), "quenmor-update: failed: ");
        EXPECT_TRUE(HasLine({output.back()}, last)) << output.back();
    }
    bool OldFileKept() const { return ReadFile(Path(install_ + "/data/a.dat")) == kOld; }

    // A test's own answers, set before its run and read by the server's
    // thread; without one the server serves the folder.
    void SetHandler(std::function<HttpReply(const HttpRequest&)> handler) {
        const std::lock_guard<std::mutex> lock(handlerMutex_);
        handler_ = std::move(handler);
    }
    std::function<HttpReply(const HttpRequest&)> Handler() {
        const std::lock_guard<std::mutex> lock(handlerMutex_);
        return handler_;
    }

    TempDir dir_;
    std::mutex handlerMutex_;
    std::function<HttpReply(const HttpRequest&)> handler_;
    // Made before the server, whose thread uses it.
    TestHttpServer::Handler files_;
    TestHttpServer server_;
    std::string install_;
};

} // namespace

TEST_F(RunLogTest, CopyTheServerDoesNotHave) {
    Prepare("install", kNew);
    fs::remove(Path("server/data/a.dat.bz2"));
    ExpectFailure(Run(Path("etc")), {server_.Url("/data/a.dat.bz2"), "HTTP 404"});
    EXPECT_TRUE(OldFileKept());
}

// An address that names no tree (UpdatesUrl naming the manifest itself, say):
// the cause is the server's answer, not that its error page does not unpack.
TEST_F(RunLogTest, ManifestTheServerDoesNotHave) {
    Prepare("install", kNew);
    fs::remove(Path("server/files.lst.bz2"));
    ExpectFailure(Run(Path("etc")),
                  {server_.Url("/files.lst.bz2"), ": the server answered HTTP 404"});
    for (const std::string& line : Lines(ReadFile(Path("run.log"))))
        EXPECT_EQ(line.find("unpack"), std::string::npos) << line;
    EXPECT_TRUE(OldFileKept());
}

TEST_F(RunLogTest, TransferCutShortOnEveryTry) {
    Prepare("install", kNew);
    SetHandler([this](const HttpRequest& request) {
        HttpReply reply = files_(request);
        if (request.target == "/data/a.dat.bz2") {
            reply.fault = HttpReply::Fault::CutBody;
            reply.cutAt = 1000;
        }
        return reply;
    });
    const int code = Run(Path("etc"));
    ExpectFailure(code, {server_.Url("/data/a.dat.bz2"), "received ", " bytes after 4 tries"});
    EXPECT_TRUE(HasLine(Lines(ReadFile(Path("run.log"))), {" retry ", "try 2 of 4"}));
    EXPECT_TRUE(OldFileKept());
}

TEST_F(RunLogTest, ContentThatDoesNotMatchItsDigest) {
    Prepare("install", kNew, Bzip2("something else"));
    ExpectFailure(Run(Path("etc")), {"data\\a.dat: ", "MD5 " + Md5Hex(kNew) + " expected, " +
                                                          Md5Hex("something else") + " got"});
    EXPECT_TRUE(OldFileKept());
}

TEST_F(RunLogTest, FullDisk) {
    SmallDisk disk(dir_.path() / "small", "200k");
    if (!disk.Mounted())
        GTEST_SKIP() << "a small disk is mounted only when the tests run as root";
    Prepare("small", kNew);
    ExpectFailure(Run(Path("etc")), {"No space left on device"});
    EXPECT_TRUE(OldFileKept());
    for (const auto& entry : fs::recursive_directory_iterator(dir_.path() / "small"))
        EXPECT_EQ(entry.path().filename().string().rfind(".quenmor-tmp-", 0), std::string::npos)
            << entry.path();
}

TEST_F(RunLogTest, HostsFileThatCannotBeWritten) {
    Prepare("install", kNew, std::nullopt, true);
    // A hosts file in a folder where nothing can be created or replaced: a
    // read-only disk for the superuser, whom permissions do not stop.
    const fs::path etc = dir_.path() / "etc-locked";
    std::optional<SmallDisk> disk;
    if (RunningAsRoot()) {
        disk.emplace(etc, "100k");
        ASSERT_TRUE(disk->Mounted());
    }
    WriteFile(platform::PathText(etc / "hosts"), "127.0.0.1\tlocalhost\n");
    // Elsewhere a folder without write permission, or on Windows, which has
    // none, a read-only file (which nothing replaces).
    const fs::path locked = platform::kPathSeparator == '\\' ? etc / "hosts" : etc;
    if (disk)
        ASSERT_TRUE(disk->MakeReadOnly());
    else
        fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec);
    ExpectFailure(Run(platform::PathText(etc)), {"hosts file: ", "hosts"});
    EXPECT_EQ(ReadFile(platform::PathText(etc / "hosts")), "127.0.0.1\tlocalhost\n");
    EXPECT_EQ(ReadFile(Path("install/data/a.dat")), kNew) << "the game files are still updated";
    if (!disk)
        fs::permissions(locked, fs::perms::owner_all);
}

// A log asked for that cannot be written would leave a failure unexplained:
// the run does not start, and the error names the file.
TEST_F(RunLogTest, LogThatCannotBeWrittenStopsTheRunBeforeItStarts) {
    Prepare("install", kNew);
    const std::string log = Path("no such folder/run.log");
    ChildProcess child(BuildPath(QUENMOR_UPDATE_PATH), {"--log", log, "--hosts-dir", Path("etc")},
                       Path(install_), Path("output.txt"));
    const auto ending = child.Wait(ChildProcess::Clock::now() + std::chrono::seconds(60));
    ASSERT_TRUE(ending);
    EXPECT_EQ(ending->code, 2);
    EXPECT_NE(ReadFile(Path("output.txt")).find("cannot write the log '" + log + "'"),
              std::string::npos)
        << ReadFile(Path("output.txt"));
    EXPECT_TRUE(server_.Requests().empty());
    EXPECT_TRUE(OldFileKept());
}

TEST(RunLog, StaysWithinItsBoundWithOneOlderFile) {
    TempDir dir;
    TRunLog log;
    log.SetFile(dir / "logs/launcher.log", 4000);
    for (int i = 0; i < 300; ++i)
        log.Retry("retry number " + std::to_string(i) + "\nwith a line break");
    EXPECT_LE(fs::file_size(dir.path() / "logs/launcher.log"), 4000u);
    EXPECT_LE(fs::file_size(dir.path() / "logs/launcher.log.1"), 4000u);
    const auto lines = Lines(ReadFile(dir / "logs/launcher.log"));
    ASSERT_FALSE(lines.empty());
    EXPECT_TRUE(HasLine({lines.back()}, {" retry retry number 299?with a line break"}));
    EXPECT_EQ(lines.back().size(),
              std::string("2026-12-08T18:00:00Z").size() +
                  std::string(" retry retry number 299?with a line break").size());
    EXPECT_FALSE(fs::exists(dir.path() / "logs/launcher.log.2"));
    EXPECT_EQ(log.FileProblem(), "");

    // The first failure of a run is kept until the next run starts.
    log.Failure("first");
    log.Failure("second");
    EXPECT_EQ(log.FirstFailure(), "first");
    log.RunStarted("UpdatesUrl=x");
    EXPECT_EQ(log.FirstFailure(), "");

    // A log that cannot be written says so and fails nothing.
    WriteFile(dir / "file", "x");
    log.SetFile(dir / "file/launcher.log");
    log.RunEnded("");
    EXPECT_NE(log.FileProblem().find("cannot write the log"), std::string::npos);
}

// ---------------------------------------------------------------------------
// What the runner prints around the status texts

TEST_F(RunLogTest, EveryRunEndsWithALineThatSaysHowItEnded) {
    Prepare("install", kNew);
    ASSERT_EQ(Run(Path("etc"), false), 0) << ReadFile(Path("output.txt"));
    std::vector<std::string> output = Lines(ReadFile(Path("output.txt")));
    ASSERT_FALSE(output.empty());
    const std::string megabytes = [] {
        char text[32];
        std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(Bzip2(kNew).size()) / 1e6);
        return std::string(text);
    }();
    EXPECT_EQ(output.back(), "updated to revision 2, 1 file, " + megabytes);
    EXPECT_TRUE(HasLine(output, {"Все файлы были обновлены"}));

    // Nothing to do: no blank lines for the texts that clear a status line.
    ASSERT_EQ(Run(Path("etc"), false), 0);
    output = Lines(ReadFile(Path("output.txt")));
    EXPECT_EQ(output,
              (std::vector<std::string>{"Скачивание списка обновлений", "up to date, revision 2"}));

    // A failure is told once, and the cause after it.
    WriteFile(Path("server/data/a.dat.bz2"), Bzip2("something else"));
    WriteFile(Path(install_ + "/data/a.dat"), kOld);
    WriteFile(Path(install_ + "/Quenmor.ini"),
              "[main]\r\nUpdatesUrl=" + server_.Url("/") + "\r\nAtRevision=1\r\n");
    ASSERT_EQ(Run(Path("etc"), false), 1);
    output = Lines(ReadFile(Path("output.txt")));
    EXPECT_EQ(std::count(output.begin(), output.end(), "Не удалось обновить"), 1)
        << ReadFile(Path("output.txt"));
    ASSERT_FALSE(output.empty());
    EXPECT_EQ(output.back().rfind("quenmor-update: failed: ", 0), 0) << output.back();
}

// Faults that no retry can mend are reported at once, each after one try.
TEST_F(RunLogTest, AddressesThatCanNeverAnswerAreTriedOnce) {
    Prepare("install", kNew);
    fs::remove(Path("server/data/a.dat.bz2")); // 404
    const auto tries = [this](const std::string& url) {
        WriteFile(Path(install_ + "/Quenmor.ini"), "[main]\r\nUpdatesUrl=" + url + "\r\n");
        EXPECT_EQ(Run(Path("etc")), 1);
        return Lines(ReadFile(Path("run.log")));
    };
    for (const std::string& url :
         {std::string("ftp://127.0.0.1:1/updates/"), std::string("http://[::1/updates/"),
          std::string("http://no-such-host.invalid/updates/"), server_.Url("/")}) {
        fs::remove(Path("run.log"));
        const std::vector<std::string> log = tries(url);
        EXPECT_FALSE(HasLine(log, {" retry "})) << url << "\n" << ReadFile(Path("run.log"));
        EXPECT_TRUE(HasLine(log, {" failure "})) << url;
    }
}

#ifndef _WIN32
// Ctrl-C asks the run to stop as closing the window does: the entry being
// fetched is still installed, later ones are not, the log gets its end line
// and the runner exits with 130. A second Ctrl-C ends it at once.
TEST_F(RunLogTest, CtrlCStopsTheRunAfterTheEntryInHandAndASecondEndsItAtOnce) {
    install_ = "install";
    const std::string second = SampleData(200'000, 9);
    WriteFile(Path("server/data/a.dat.bz2"), Bzip2(kNew));
    WriteFile(Path("server/data/b.dat.bz2"), Bzip2(second));
    WriteFile(Path("server/files.lst.bz2"),
              Bzip2("[settings]\r\nRev|2\r\nModHosts|0\r\n[/settings]\r\n[files_normal]\r\n"
                    "data\\a.dat|" +
                    Md5Hex(kNew) + "|" + std::to_string(Bzip2(kNew).size()) + "\r\ndata\\b.dat|" +
                    Md5Hex(second) + "|" + std::to_string(Bzip2(second).size()) +
                    "\r\n[/files_normal]\r\n"));
    WriteFile(Path("install/data/a.dat"), kOld);
    WriteFile(Path("install/data/b.dat"), kOld);
    WriteFile(Path("install/Quenmor.ini"),
              "[main]\r\nUpdatesUrl=" + server_.Url("/") + "\r\nAtRevision=1\r\n");
    // The first copy comes once the interrupt is in; the second at once.
    std::atomic<bool> interrupted{false};
    SetHandler([this, &interrupted](const HttpRequest& request) {
        if (request.target == "/data/a.dat.bz2")
            for (int k = 0; k < 500 && !interrupted; ++k)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return files_(request);
    });
    const auto startRun = [this] {
        return std::make_unique<ChildProcess>(
            BuildPath(QUENMOR_UPDATE_PATH),
            std::vector<std::string>{"--log", Path("run.log"), "--hosts-dir", Path("etc")},
            Path(install_), Path("output.txt"));
    };
    const auto waitFor = [this](const std::string& text) {
        for (int k = 0; k < 1000; ++k) {
            if (Exists(Path("output.txt")) &&
                ReadFile(Path("output.txt")).find(text) != std::string::npos)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    };
    {
        const auto child = startRun();
        ASSERT_TRUE(waitFor("Загружается data\\a.dat"));
        child->Interrupt();
        ASSERT_TRUE(waitFor("Ctrl-C again ends at once"));
        interrupted = true;
        const auto ending = child->Wait(ChildProcess::Clock::now() + std::chrono::seconds(60));
        ASSERT_TRUE(ending);
        EXPECT_EQ(ending->code, 130) << ReadFile(Path("output.txt"));
    }
    EXPECT_EQ(ReadFile(Path("install/data/a.dat")), kNew) << "the entry in hand is installed";
    EXPECT_EQ(ReadFile(Path("install/data/b.dat")), kOld) << "no later entry is";
    EXPECT_TRUE(HasLine(Lines(ReadFile(Path("run.log"))), {" end Не удалось обновить"}))
        << ReadFile(Path("run.log"));
    EXPECT_NE(ReadFile(Path("install/Quenmor.ini")).find("AtRevision=1"), std::string::npos);

    // The same with a copy that never comes: the second interrupt ends it.
    interrupted = false;
    SetHandler([this](const HttpRequest& request) {
        HttpReply reply = files_(request);
        if (request.target == "/data/b.dat.bz2")
            reply.fault = HttpReply::Fault::StallBeforeHeaders;
        return reply;
    });
    {
        const auto child = startRun();
        ASSERT_TRUE(waitFor("Загружается data\\b.dat"));
        child->Interrupt();
        ASSERT_TRUE(waitFor("Ctrl-C again ends at once"));
        EXPECT_FALSE(child->Wait(ChildProcess::Clock::now() + std::chrono::milliseconds(500)))
            << "the first interrupt waits for the entry in hand";
        child->Interrupt();
        const auto ending = child->Wait(ChildProcess::Clock::now() + std::chrono::seconds(10));
        ASSERT_TRUE(ending) << "the second interrupt did not end the run";
        EXPECT_EQ(ending->signal, SIGINT);
    }
    EXPECT_EQ(ReadFile(Path("install/data/b.dat")), kOld);
}
#endif
