// Transfers and whole runs against servers that cut, stall, refuse and change
// bodies: what arrives is whole and equal to what the server has now, resumed
// where the server allows it, within the retry bounds.
#include "Fetch.h"
#include "GetFilesThr.h"
#include "TestHttpServer.h"
#include "TestSupport.h"
#include "Text.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <map>
#include <optional>

using namespace testing_support;
using namespace std::chrono_literals;
namespace fs = std::filesystem;
using Server = TestHttpServer;

namespace {

const TRetryPolicy kQuick{4, 5000ms, 10ms};

// Content that bzip2 cannot shrink: a cut lands inside the compressed copy.
std::string Noise(std::size_t size, std::uint32_t seed) {
    std::string text(size, '\0');
    for (char& c : text)
        c = static_cast<char>((seed = seed * 1103515245u + 12345u) >> 24);
    return text;
}

template <typename Param> class Download : public ::testing::TestWithParam<Param> {
protected:
    Download() : transfer_(target_) {
        transfer_.retry = kQuick;
        WriteFile(root() + "/f.bz2", content_);
    }
    bool Fetch(const Server& s) { return transfer_.Download(s.Url("/f.bz2"), copy(), true); }
    std::string copy() const { return dir_ / "copy.bz2"; }
    std::string root() const { return dir_ / "srv"; }

    TempDir dir_;
    const std::string content_ = SampleData(300000, 1);
    RecordingTarget target_;
    RunTransfer transfer_;
};

// How the server answers the resume of a body it cut after half of it.
struct ResumeCase {
    std::string name;
    FolderOptions folder;
    bool changed;        // the file changed between the cut and the resume
    std::string ifRange; // the first answer's "tag" or "date"; "": no resume asked for

    // The test output names the case, not its bytes.
    friend void PrintTo(const ResumeCase& c, std::ostream* os) { *os << c.name; }
};
using Resume = Download<ResumeCase>;

TEST_P(Resume, CutBodyEndsWholeAndIsResumedOnlyForTheSameVersion) {
    const ResumeCase r = GetParam();
    fs::last_write_time(root() + "/f.bz2", fs::file_time_type::clock::from_sys(
                                               std::chrono::sys_days{2020y / 3 / 1} + 36000s));
    const std::string stale = SampleData(content_.size(), 2);
    const Server::Handler files = Server::Folder(root(), r.folder);
    Server server(r.changed
                      ? Server::ChangesAfterCut(files, [&](auto&) { return std::optional(stale); })
                      : Server::CutEachBodyOnce(files));
    ASSERT_TRUE(Fetch(server));
    EXPECT_TRUE(ReadFile(copy()) == content_); // never two versions spliced
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].Header("User-Agent"), kAgentName);
    EXPECT_EQ(requests[0].headers.size(), 3u); // and curl's own Host and Accept, nothing else
    const std::string validator = r.ifRange == "date" ? "Sun, 01 Mar 2020 10:00:00 GMT"
                                  : r.ifRange == "tag"
                                      ? Server::EntityTag(r.changed ? stale : content_)
                                      : "";
    EXPECT_EQ(requests[1].Header("If-Range"), validator);
    EXPECT_EQ(requests[1].Header("Range"), validator.empty() ? "" : "bytes=150000-");
    EXPECT_EQ(requests[1].headers.size(), validator.empty() ? 3u : 5u);
}
INSTANTIATE_TEST_SUITE_P(
    NetworkFault, Resume,
    ::testing::Values(ResumeCase{"ETag", {}, false, "tag"},
                      ResumeCase{"LastModified", {.etag = false}, false, "date"},
                      ResumeCase{"NoValidator", {.etag = false, .lastModified = false}, false, ""},
                      ResumeCase{"RangesIgnored", {.ranges = false}, false, "tag"},
                      ResumeCase{"ChangedAfterCut", {}, true, "tag"}),
    [](const auto& p) { return p.param.name; });

// A continuation that ends before the resource does is resumed again.
TEST(NetworkFaultShortRange, ContinuationsShorterThanAskedForAreResumedAgain) {
    TempDir dir;
    const std::string content = SampleData(300000, 3);
    WriteFile(dir / "f.bz2", content);
    const Server::Handler files = Server::CutEachBodyOnce(Server::Folder(dir.path().string()));
    std::atomic<bool> shortened{false};
    Server server([&](const HttpRequest& request) {
        HttpReply reply = files(request);
        if (reply.status == 206 && reply.body.size() > 1000 && !shortened.exchange(true)) {
            const std::size_t from = content.size() - reply.body.size();
            reply.body.resize(1000); // less than asked for, and said so
            for (auto& [name, value] : reply.headers)
                if (name == "Content-Range")
                    value = "bytes " + std::to_string(from) + "-" + std::to_string(from + 999) +
                            "/" + std::to_string(content.size());
        }
        return reply;
    });
    RecordingTarget target;
    RunTransfer thread(target);
    thread.retry = kQuick;
    ASSERT_TRUE(thread.Download(server.Url("/f.bz2"), dir / "copy", true));
    EXPECT_TRUE(ReadFile(dir / "copy") == content);
    EXPECT_EQ(server.Requests().size(), 3u);
}

struct RefusalCase {
    std::string name, retryAfter;
    int status, times;

    // The test output names the case, not its bytes.
    friend void PrintTo(const RefusalCase& c, std::ostream* os) { *os << c.name; }
};
using Refusal = Download<RefusalCase>;
using NetworkFaultBounds = Refusal;

// A refused request is sent again after the pause the refusal asks for, up to
// maxTries requests; an error page that stands is a body too (unpacking
// refuses it later).
TEST_P(Refusal, IsAskedAgainAfterThePauseItAsksFor) {
    const RefusalCase r = GetParam();
    Server server(
        Server::UnavailableFirst(Server::Folder(root()), r.times, r.retryAfter, r.status));
    const auto started = std::chrono::steady_clock::now();
    ASSERT_TRUE(Fetch(server));
    const auto elapsed = std::chrono::steady_clock::now() - started;
    EXPECT_EQ(server.Requests().size(),
              static_cast<std::size_t>(std::min(r.times + 1, kQuick.maxTries)));
    const std::string page = "<html><body><h1>503 Service Unavailable</h1></body></html>";
    EXPECT_TRUE(ReadFile(copy()) == (r.times < kQuick.maxTries ? content_ : page));
    if (r.retryAfter.empty())
        EXPECT_LT(elapsed, 900ms);
    else
        EXPECT_GE(elapsed, 1s);
}
INSTANTIATE_TEST_SUITE_P(NetworkFault, Refusal,
                         ::testing::Values(RefusalCase{"Unavailable", "", 503, 1},
                                           RefusalCase{"UnavailableFor1s", "1", 503, 1},
                                           RefusalCase{"TooManyFor1s", "1", 429, 1},
                                           RefusalCase{"RequestTimeout", "", 408, 1},
                                           RefusalCase{"AlwaysUnavailable", "", 503, 100}),
                         [](const auto& p) { return p.param.name; });

TEST_F(NetworkFaultBounds, ClosedPortGivesFalseAndNoFileAfterMaxTries) {
    const std::string url = "http://127.0.0.1:" + std::to_string(Server::ClosedPort()) + "/f.bz2";
    EXPECT_FALSE(transfer_.Download(url, copy(), true));
    EXPECT_FALSE(Exists(copy()));
    platform::HttpConnection connection;
    platform::HttpOptions options;
    options.agent = kAgentName;
    const TFetchResult result =
        TFetch(connection, options, kQuick).Get(url, {[] {}, [](const char*, std::size_t) {}});
    EXPECT_FALSE(result.opened);
    EXPECT_EQ(result.tries, kQuick.maxTries);
}

// An address that no retry can mend is tried once: another scheme, no
// address at all, a name that does not resolve; and so is a lasting refusal.
TEST_F(NetworkFaultBounds, AddressesThatCanNeverBeFetchedAreTriedOnce) {
    Server server(Server::Folder(root()));
    platform::HttpConnection connection;
    platform::HttpOptions options;
    options.agent = kAgentName;
    for (const std::string& url :
         {std::string("ftp://127.0.0.1/f.bz2"), std::string("not an address"),
          std::string("http://host.invalid/f.bz2"), server.Url("/missing.bz2")}) {
        const TFetchResult result =
            TFetch(connection, options, kQuick).Get(url, {[] {}, [](const char*, std::size_t) {}});
        EXPECT_EQ(result.tries, 1) << url << ": " << result.problem;
    }
}

// Which resumed answers continue a body, and what pause a refusal asks for.
TEST(NetworkFaultHeaders, ContinuesAtAndRetryAfterPause) {
    EXPECT_TRUE(ContinuesAt("bytes 100-999/1000", 100, 1000));
    EXPECT_TRUE(ContinuesAt("bytes 100-999/1000", 100, -1)); // the first answer had no length
    EXPECT_TRUE(ContinuesAt("bytes 100-999/*", 100, -1));
    EXPECT_FALSE(ContinuesAt("bytes 100-999/1000", 99, 1000));
    EXPECT_FALSE(ContinuesAt("bytes 100-999/2000", 100, 1000)); // another resource
    EXPECT_FALSE(ContinuesAt("bytes 100-1000/1000", 100, -1));
    EXPECT_FALSE(ContinuesAt("bytes 100-99/1000", 100, -1));
    EXPECT_FALSE(ContinuesAt("bytes */1000", 100, 1000));
    EXPECT_FALSE(ContinuesAt("bytes=100-999/1000", 100, 1000));
    EXPECT_FALSE(ContinuesAt("bytes 100-999/1000x", 100, -1));
    const auto now = std::chrono::sys_days{2024y / 1 / 1} + 12h;
    EXPECT_EQ(RetryAfterPause("1", now), 1s);
    EXPECT_EQ(RetryAfterPause("120", now), 120s);
    EXPECT_EQ(RetryAfterPause("Mon, 01 Jan 2024 12:00:30 GMT", now), 30s);
    EXPECT_EQ(RetryAfterPause("Mon, 01 Jan 2024 11:00:00 GMT", now), 0s); // past: at once
    for (const char* garbage : {"-5", "1.5", "soon", "", "Mon, 01 Jan 2024 12:00:30 UTC",
                                "Mon, 32 Jan 2024 12:00:30 GMT"})
        EXPECT_EQ(RetryAfterPause(garbage, now), -1ms) << garbage;
}

// A run of a tree of twenty files, four of them large and incompressible
// enough to be cut part-way, against a server that faults each body once (or,
// "Plain" and "Slow", not at all).
class WholeRun : public ::testing::TestWithParam<std::string> {
protected:
    WholeRun() {
        std::string list = "[settings]\r\nRev|1\r\nModHosts|0\r\n[/settings]\r\n[files_normal]\r\n";
        for (std::uint32_t i = 0; i < 20; ++i) {
            const std::string path = (i % 3 ? "data/" : "maps/") + std::to_string(i) + ".dat";
            const std::string content =
                i % 5 ? SampleData(3000 + 500 * i, i) : Noise(200000 + 15000 * i, i);
            const std::string compressed = Bzip2(content);
            WriteFile(root() + "/" + path + ".bz2", compressed);
            files_[path] = Md5Hex(content);
            list += *platform::LocalPathToManifest(path) + "|" + files_[path] + "|" +
                    std::to_string(compressed.size()) + "\r\n";
            served_ += compressed.size();
        }
        list = Bzip2(list + "[/files_normal]\r\n");
        WriteFile(root() + "/files.lst.bz2", list);
        served_ += list.size();
        fs::create_directories(dir_.path() / "install");
    }
    std::string root() const { return dir_ / "server"; }

    // Runs the update; then every file is in place with its content, and
    // nothing else is: no copy, no temporary file, no manifest.
    void Run(const Server& server, int connections, long stallTimeoutS) {
        GFilesThread thread(target_, [](const std::function<void()>& notify) { notify(); });
        thread.UpdateUrl = server.Url("/");
        thread.Retry = kQuick;
        thread.Connections = connections;
        thread.StallTimeoutS = stallTimeoutS;
        RunToEnd(thread, dir_.path() / "install");
        EXPECT_EQ(target_.EventsWithoutFileProgress().end()[-2],
                  std::string("ShowStatus:") + status::kAllUpdated);
        std::map<std::string, std::string> installed;
        for (const auto& entry : fs::recursive_directory_iterator(dir_.path() / "install"))
            if (!entry.is_directory())
                installed[GenericText(entry.path().lexically_relative(dir_.path() / "install"))] =
                    Md5Hex(ReadFile(entry.path().string()));
        EXPECT_EQ(installed, files_);
    }

    TempDir dir_;
    std::map<std::string, std::string> files_; // path -> digest of the content
    std::uint64_t served_ = 0;                 // compressed copies and manifest
    RecordingTarget target_;
};

TEST_P(WholeRun, EveryFileArrivesWhole) {
    const std::string fault = GetParam();
    const auto files = Server::Folder(root(), {.ranges = fault != "CutWithoutRanges"});
    const Server::Handler slow = [files](const HttpRequest& request) {
        HttpReply reply = files(request);
        reply.delay = 50ms;
        return reply;
    };
    const auto changed = [root = root()](const std::string& target) {
        return std::optional(Noise(ReadFile(root + target).size(), 7)); // of the same size
    };
    Server server(fault == "Plain"             ? files
                  : fault == "Slow"            ? slow
                  : fault == "Stall"           ? Server::StallEachBodyOnce(files)
                  : fault == "Unavailable"     ? Server::UnavailableFirst(files, 1)
                  : fault == "ChangesAfterCut" ? Server::ChangesAfterCut(files, changed)
                                               : Server::CutEachBodyOnce(files));
    const int connections = fault == "Plain" ? 2 : fault == "Slow" ? 4 : 0;
    Run(server, connections, fault == "Stall" ? 1 : 2);
    EXPECT_EQ(server.Requests().size(), (connections ? 1u : 2u) * (files_.size() + 1));
    if (fault != "CutWithoutRanges" && fault != "ChangesAfterCut") { // each body sent about once
        EXPECT_LT(static_cast<double>(server.BodyBytesSent()), 1.15 * static_cast<double>(served_));
    }
    if (connections) { // kept open, used side by side, never more at once than given
        EXPECT_LE(server.Connections(), static_cast<std::size_t>(connections) + 2);
        EXPECT_LE(server.MaxConcurrentRequests(), static_cast<std::size_t>(connections));
        EXPECT_GE(server.MaxConcurrentRequests(), fault == "Slow" ? 2u : 1u);
    }
}
INSTANTIATE_TEST_SUITE_P(NetworkFault, WholeRun,
                         ::testing::Values("Cut", "Stall", "CutWithoutRanges", "Unavailable",
                                           "ChangesAfterCut", "Plain", "Slow"),
                         [](const auto& p) { return p.param; });

} // namespace
