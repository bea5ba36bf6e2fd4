// The work ahead of the installer through its own interface: the states its
// jobs go through when the disk budget sets work aside, and the waits that a
// stop request ends at once instead of at their next look.
#include "WorkAhead.h"
#include "Fetch.h"
#include "StopSignal.h"
#include "TestHttpServer.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <mutex>
#include <thread>

using namespace testing_support;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr std::size_t kFileSize = 100'000;

// Content that bzip2 cannot shrink: each copy takes what its content does.
std::string Noise(std::size_t size, std::uint32_t seed) {
    std::string text(size, '\0');
    for (char& c : text)
        c = static_cast<char>((seed = seed * 1103515245u + 12345u) >> 24);
    return text;
}

class WorkAheadTest : public ::testing::Test {
protected:
    WorkAheadTest() : server_(TestHttpServer::Folder(dir_ / "server")) {
        fs::create_directories(dir_.path() / "server");
        fs::create_directories(dir_.path() / "install");
        for (int i = 0; i < 4; ++i) {
            const std::string name = "f" + std::to_string(i) + ".dat";
            contents_.push_back(Noise(kFileSize, static_cast<std::uint32_t>(i + 1)));
            const std::string copy = Bzip2(contents_.back());
            WriteFile(dir_ / ("server/" + name + ".bz2"), copy);
            TAheadEntry entry;
            entry.url = server_.Url("/" + name + ".bz2");
            entry.target = dir_ / ("install/" + name);
            entry.copy = entry.target + ".bz2";
            entry.digest = Md5Hex(contents_.back());
            entry.size = static_cast<std::int64_t>(copy.size());
            entries_.push_back(entry);
        }
        settings_.connections = 4;
        settings_.cores = 2;
        settings_.trace = [this](std::size_t entry, const char* from, const char* to) {
            std::lock_guard lock(mutex_);
            moves_[entry].push_back(std::string(from) + ">" + to);
        };
    }

    std::vector<std::string> Moves(std::size_t entry) {
        std::lock_guard lock(mutex_);
        return moves_[entry];
    }

    TempDir dir_;
    TestHttpServer server_;
    std::vector<std::string> contents_;
    std::vector<TAheadEntry> entries_;
    TWorkAhead::Settings settings_;
    std::mutex mutex_;
    std::map<std::size_t, std::vector<std::string>> moves_;
};

} // namespace

// With room for little more than one copy and its content, the entry after
// the one being installed is fetched but set aside (before or while it is
// unpacked), and unpacked only once it is the entry being installed; what
// it counted against the budget goes with the state it leaves, or the later
// entries would wait for ever.
TEST_F(WorkAheadTest, TheBudgetSetsAnEntryAsideUntilItsTurn) {
    settings_.budget = static_cast<std::int64_t>(kFileSize * 5 / 2);
    {
        TWorkAhead ahead(entries_, settings_);
        // Entry 0 is the one being installed until the first wait for entry 1.
        const auto setAside = [this] {
            const std::vector<std::string> moves = Moves(1);
            return !moves.empty() && moves.back().ends_with(">deferred");
        };
        for (int i = 0; i < 1000 && !setAside(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_TRUE(setAside());
        EXPECT_TRUE(Moves(2).empty()); // no room to fetch it yet
        for (std::size_t i = 0; i < entries_.size(); ++i) {
            EXPECT_TRUE(ahead.AwaitDownload(i, {}).opened);
            ahead.AwaitInstall(i, {});
        }
    }
    EXPECT_EQ(Moves(1).back(), "unpacked>taken");
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        EXPECT_TRUE(ReadFile(entries_[i].target) == contents_[i]) << i;
        const std::vector<std::string> moves = Moves(i);
        EXPECT_EQ(moves.front(), "waiting>fetching") << i;
        EXPECT_EQ(moves.back(), "unpacked>taken") << i;
    }
    std::size_t files = 0;
    for (const auto& file : fs::directory_iterator(dir_.path() / "install")) {
        EXPECT_EQ(file.path().extension(), ".dat") << file.path();
        ++files;
    }
    EXPECT_EQ(files, entries_.size());
}

// An abort ends a retry's pause, and the installer's wait for a transfer
// that the server holds up, as soon as it is made: not after the pause of
// 20 s that the server asked for, nor after the server's silence.
TEST_F(WorkAheadTest, AnAbortEndsPausesAndWaitsAtOnce) {
    TestHttpServer refusing([](const HttpRequest&) {
        HttpReply reply;
        reply.status = 503;
        reply.headers = {{"Retry-After", "20"}};
        return reply;
    });
    TestHttpServer silent([](const HttpRequest&) {
        HttpReply reply;
        reply.fault = HttpReply::Fault::StallBeforeHeaders;
        return reply;
    });
    const auto abortSoon = [](TStopSignal& stop) {
        return std::thread([&stop] {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            stop.RequestAbort();
        });
    };
    {
        TStopSignal stop;
        platform::HttpConnection connection;
        platform::HttpOptions options;
        options.cancelled = [&stop] { return stop.AbortRequested(); };
        TFetch fetch(connection, options, {3, std::chrono::seconds(60), std::chrono::seconds(20)},
                     {}, &stop);
        std::thread aborting = abortSoon(stop);
        const auto start = Clock::now();
        EXPECT_THROW(fetch.Get(refusing.Url("/f.bz2"), {[] {}, [](const char*, std::size_t) {}}),
                     std::exception);
        aborting.join();
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
    }
    {
        TStopSignal stop;
        settings_.stop = &stop;
        settings_.http.stallTimeoutS = 60;
        entries_.resize(1);
        entries_[0].url = silent.Url("/f0.dat.bz2");
        TWorkAhead ahead(entries_, settings_);
        std::thread aborting = abortSoon(stop);
        const auto start = Clock::now();
        EXPECT_THROW(ahead.AwaitDownload(0, {}), std::exception);
        aborting.join();
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
    }
    EXPECT_FALSE(Exists(entries_[0].copy));
}
