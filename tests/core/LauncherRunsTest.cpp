#include "LauncherRuns.h"
#include "InstallLock.h"
#include "LauncherLog.h"
#include "Messages.h"
#include "Profile.h"
#include "TestHttpServer.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <stdexcept>
#include <thread>

using namespace testing_support;
using namespace std::chrono_literals;

namespace {

// A window without a toolkit: its dispatcher queues each notification until
// the test's thread runs it (in Pump), as a window's event loop would, and
// the worker waits for it meanwhile.
class FakeWindow : public TUpdateTarget, public TRunWindow {
public:
    explicit FakeWindow(const std::string& baseFolder) { runs.BaseFolder = baseFolder; }
    ~FakeWindow() override {
        CloseRunDispatcher();
        runs.Stop(); // ends a run still going while the queue is still here
    }

    TLauncherRuns runs{*this, *this};
    std::vector<std::string> events; // what the window was asked to show
    int polling = 0;                 // StartPolling calls minus StopPolling calls, at most 1

    // Runs queued notifications until `done` holds or `limit` passes.
    void Pump(std::chrono::milliseconds limit, const std::function<bool()>& done) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        std::unique_lock lock(mutex_);
        while (!done() && std::chrono::steady_clock::now() < deadline) {
            if (queue_.empty()) {
                wake_.wait_for(lock, 5ms);
                continue;
            }
            Job* job = queue_.front();
            queue_.pop_front();
            lock.unlock();
            try {
                job->notification();
            } catch (...) {
                job->error = std::current_exception();
            }
            lock.lock();
            job->done = true;
            wake_.notify_all();
        }
    }
    // Until the run has ended and the poll has cleaned it up.
    bool RunToEnd() {
        Pump(20s, [this] {
            if (polling > 0) {
                mutex_.unlock(); // Poll may wait for the run's thread
                runs.Poll();
                mutex_.lock();
            }
            return !runs.Active();
        });
        return !runs.Active();
    }

    // TUpdateTarget: the window's handlers, bookkeeping first.
    void LockCommands() override { runs.Locked(); }
    void ShowStatus(const std::string& text) override {
        runs.Status(text);
        lastStatus = text;
    }
    void SetFileGaugeMax(std::int32_t) override {}
    void SetTotalGaugeMax(std::int32_t) override {}
    void SetFileProgress(std::int32_t) override {}
    void SetTotalProgress(std::int32_t) override {}
    void StoreRevision(const std::string& revision) override { runs.Revision(revision); }
    void UnlockCommands() override { runs.Unlocked(); }
    std::string lastStatus;

    // TRunWindow.
    TDispatcher RunDispatcher() override {
        return [this](const std::function<void()>& notification) {
            Job job{notification, false, nullptr};
            std::unique_lock lock(mutex_);
            if (closed_)
                throw std::runtime_error("closed");
            queue_.push_back(&job);
            wake_.notify_all();
            wake_.wait(lock, [&] { return job.done || closed_; });
            if (!job.done) {
                std::erase(queue_, &job);
                throw std::runtime_error("closed");
            }
            if (job.error)
                std::rethrow_exception(job.error);
        };
    }
    void CloseRunDispatcher() override {
        std::lock_guard lock(mutex_);
        closed_ = true;
        wake_.notify_all();
    }
    void SetStatusLine(const std::string& text) override { events.push_back("status:" + text); }
    void SetCommands(const TCommandStates& states) override {
        events.push_back(states == kCommandsLocked     ? "locked"
                         : states == kCommandsUnlocked ? "unlocked"
                                                       : "other");
    }
    void StartPolling() override { polling = 1; }
    void StopPolling() override { polling = 0; }
    void WaitWithEvents(std::chrono::milliseconds limit,
                        const std::function<bool()>& done) override {
        Pump(limit, done);
    }

private:
    struct Job {
        std::function<void()> notification;
        bool done = false;
        std::exception_ptr error;
    };
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Job*> queue_;
    bool closed_ = false;
};

HttpReply NotFound(const HttpRequest&) {
    HttpReply reply;
    reply.status = 404;
    reply.body = "no such tree";
    return reply;
}

// An installation with settings that point at `url`.
std::string Installation(const TempDir& dir, const std::string& url) {
    const std::string base = dir.path().string() + "/";
    WriteFile(base + "Quenmor.ini", "[main]\r\nUpdatesUrl=" + url + "\r\nInstalled=1\r\n");
    return base;
}

TLauncherSettings Settings(const std::string& base) {
    TLauncherSettings settings;
    EXPECT_TRUE(LoadSettings(base, settings));
    return settings;
}

} // namespace

TEST(LauncherRuns, WaitsForTheInstallationThenRunsAndCleansUp) {
    TempDir dir;
    TestHttpServer server(NotFound);
    const std::string base = Installation(dir, server.Url("/tree"));
    FakeWindow window(base);
    auto other = platform::InstallLock::TryAcquire(base);
    ASSERT_TRUE(other && other->Exclusive());

    window.runs.Start(Settings(base), false);
    ASSERT_TRUE(window.runs.Active());
    for (int i = 0; i < 3; ++i)
        window.runs.Poll(); // still held: the wait is shown once
    EXPECT_EQ(window.events, (std::vector<std::string>{
                                 "status:", "locked", std::string("status:") + kInstallationBusy}));
    EXPECT_EQ(window.polling, 1);
    window.runs.Start(Settings(base), true); // one run at a time
    EXPECT_TRUE(server.Requests().empty());

    other.reset();
    window.runs.Poll();
    ASSERT_TRUE(window.RunToEnd());
    EXPECT_EQ(window.polling, 0);
    EXPECT_FALSE(server.Requests().empty());
    EXPECT_FALSE(window.lastStatus.empty()); // the run's failure text
    EXPECT_EQ(window.events.back(), "unlocked");
    // The installation is free again once the run is cleaned up.
    EXPECT_TRUE(platform::InstallLock::TryAcquire(base));
}

TEST(LauncherRuns, NothingStartsWithoutSettingsOrOnceTheWindowCloses) {
    TempDir dir;
    const std::string base = Installation(dir, "http://127.0.0.1:1/");
    FakeWindow window(base);
    window.runs.Start({base}, false); // the settings file was missing
    EXPECT_FALSE(window.runs.Active());

    auto other = platform::InstallLock::TryAcquire(base);
    window.runs.Start(Settings(base), false);
    ASSERT_TRUE(window.runs.Active());
    window.runs.Stop(); // the prepared run is dropped
    EXPECT_FALSE(window.runs.Active());
    EXPECT_EQ(window.polling, 0);
    other.reset();
    window.runs.Start(Settings(base), false);
    EXPECT_FALSE(window.runs.Active());
    EXPECT_FALSE(window.runs.Abandoned());
    EXPECT_EQ(window.events.size(), 3u);
}

TEST(LauncherRuns, CloseStopsAStalledRunWithinItsWaits) {
    TempDir dir;
    TestHttpServer server([](const HttpRequest&) {
        HttpReply reply;
        reply.fault = HttpReply::Fault::StallBeforeHeaders;
        return reply;
    });
    const std::string base = Installation(dir, server.Url("/tree"));
    FakeWindow window(base);
    window.runs.CloseWait = 200ms;
    window.runs.AbortWait = 3000ms;
    window.runs.Start(Settings(base), false);
    for (int i = 0; i < 400 && server.Requests().empty(); ++i)
        window.Pump(10ms, [] { return false; });
    ASSERT_FALSE(server.Requests().empty());

    const auto start = std::chrono::steady_clock::now();
    window.runs.Stop(); // the transfer is cut after CloseWait
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3000ms);
    EXPECT_FALSE(window.runs.Active());
    EXPECT_FALSE(window.runs.Abandoned());
}

TEST(LauncherRuns, RecordedRevisionsReachTheSettingsFileAlsoAfterClose) {
    TempDir dir;
    const std::string base = Installation(dir, "");
    FakeWindow window(base);
    window.runs.Stop();
    window.runs.RecordRevision("12");
    EXPECT_EQ(platform::GetProfileString(base + "Quenmor.ini", "main", "AtRevision", ""), "12");
    window.runs.RecordRevision("x"); // stored as given, not remembered as a number
    EXPECT_EQ(platform::GetProfileString(base + "Quenmor.ini", "main", "AtRevision", ""), "x");
}

// A failed run leaves the status line's hover text with its cause and the
// log's path; the next run clears it as it is prepared.
TEST(LauncherRuns, AFailedRunLeavesItsCauseForTheStatusLine) {
    struct HintWindow : FakeWindow {
        using FakeWindow::FakeWindow;
        void ShowCause(const std::string& cause) override { runs.Cause(cause); }
        void SetStatusHint(const std::string& text) override { hints.push_back(text); }
        std::vector<std::string> hints;
    };
    TempDir dir;
    TestHttpServer server(NotFound);
    const std::string base = Installation(dir, server.Url("/tree"));
    HintWindow window(base);
    for (int run = 0; run < 2; ++run) {
        window.runs.Start(Settings(base), false);
        EXPECT_EQ(window.hints.back(), "");
        ASSERT_TRUE(window.RunToEnd());
    }
    ASSERT_EQ(window.hints.size(), 4u);
    const std::string hint = window.hints[3];
    EXPECT_EQ(hint, window.hints[1]);
    EXPECT_EQ(hint, server.Url("/tree/files.lst.bz2") + ": the server answered HTTP 404\n" +
                        kLogFileLabel + LauncherLogFile());
}
