// The Win32 window's dispatcher: notifications from worker threads run on the
// window's thread, in order, with their errors handed back; in place on the
// window's thread; never a worker left waiting for a window that is gone, and
// never a notification run once its dispatcher has let its worker go. The
// window is a message-only window of the test's thread, whose messages the
// test handles itself.
#include "Dispatcher.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::chrono::milliseconds kTimeout(10000);

// How many of the dispatchers' messages the test windows were handed.
std::atomic<int> gHandled{0};

LRESULT CALLBACK RoutingProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (TWin32Dispatcher::Handle(window, message, wParam, lParam)) {
        ++gHandled;
        return 0;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

// A message-only window of the calling thread, destroyed with the object
// unless the test destroys it first. `routed`: its procedure hands messages
// to the dispatcher, as the launcher's window does; else it knows nothing of
// the dispatcher.
class TestWindow {
public:
    explicit TestWindow(bool routed = true) {
        const wchar_t* name = routed ? L"QuenmorDispatcherTest" : L"QuenmorDispatcherTestBare";
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = routed ? RoutingProcedure : ::DefWindowProcW;
        windowClass.hInstance = ::GetModuleHandleW(nullptr);
        windowClass.lpszClassName = name;
        ::RegisterClassW(&windowClass); // fails harmlessly when already there
        handle_ = ::CreateWindowExW(0, name, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                    windowClass.hInstance, nullptr);
    }
    ~TestWindow() { Destroy(); }
    TestWindow(const TestWindow&) = delete;
    TestWindow& operator=(const TestWindow&) = delete;

    HWND Handle() const { return handle_; }
    void Destroy() {
        if (handle_)
            ::DestroyWindow(handle_);
        handle_ = nullptr;
    }
    // Whether a posted message waits in the window's queue.
    bool HasPosted() const {
        MSG message;
        return ::PeekMessageW(&message, handle_, 0, 0, PM_NOREMOVE | PM_NOYIELD) != 0;
    }

private:
    HWND handle_ = nullptr;
};

// Handles the thread's messages until `done` holds; false when it did not
// within the timeout.
bool HandleMessagesUntil(const std::function<bool()>& done,
                         std::chrono::milliseconds timeout = kTimeout) {
    const auto until = Clock::now() + timeout;
    for (;;) {
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
        if (done())
            return true;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
        if (left.count() <= 0)
            return false;
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE,
                                    static_cast<DWORD>(std::min<long long>(left.count(), 10)),
                                    QS_ALLINPUT);
    }
}

// Waits without handling any message until `done` holds, as a window's
// thread does that waits for its run to end.
bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = kTimeout) {
    const auto until = Clock::now() + timeout;
    while (!done() && Clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return done();
}

// A worker thread running `body` once. A worker that does not end in time is
// left detached, so that the test fails instead of hanging.
class Worker {
public:
    explicit Worker(std::function<void()> body)
        : thread_([this, body = std::move(body)] {
              body();
              done_ = true;
          }) {}
    ~Worker() {
        if (done_)
            thread_.join();
        else
            thread_.detach();
    }
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    bool Done() const { return done_; }
    bool HandleMessagesUntilDone() {
        return HandleMessagesUntil([this] { return done_.load(); });
    }
    bool WaitUntilDone() {
        return WaitUntil([this] { return done_.load(); });
    }

private:
    std::atomic<bool> done_{false};
    std::thread thread_;
};

// Calls `dispatch` and returns "returned" or the text of the EWindowClosed
// it raised.
std::string Outcome(const TDispatcher& dispatch, const std::function<void()>& notification) {
    try {
        dispatch(notification);
        return "returned";
    } catch (const EWindowClosed& error) {
        return error.what();
    }
}

} // namespace

TEST(Win32Dispatcher, RunsOnTheWindowThreadWhileTheWorkerWaits) {
    TestWindow window;
    TWin32Dispatcher dispatcher(window.Handle());
    const TDispatcher dispatch = dispatcher.Dispatcher();
    std::atomic<DWORD> ranOn{0};
    std::mutex mutex;
    std::vector<std::string> order;
    const auto note = [&](const std::string& what) {
        std::lock_guard lock(mutex);
        order.push_back(what);
    };
    Worker worker([&] {
        dispatch([&] { ranOn = ::GetCurrentThreadId(); });
        for (int i = 0; i < 3; ++i) {
            dispatch([&, i] {
                note("window " + std::to_string(i) + " begins");
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                note("window " + std::to_string(i) + " ends");
            });
            note("worker goes on after " + std::to_string(i));
        }
    });
    ASSERT_TRUE(worker.HandleMessagesUntilDone());
    EXPECT_EQ(ranOn.load(), ::GetCurrentThreadId());
    const std::vector<std::string> expected = {
        "window 0 begins", "window 0 ends", "worker goes on after 0",
        "window 1 begins", "window 1 ends", "worker goes on after 1",
        "window 2 begins", "window 2 ends", "worker goes on after 2"};
    EXPECT_EQ(order, expected);
    EXPECT_FALSE(dispatcher.Closed());
}

// Several workers at once: each one's notifications run in the order it sent
// them, all on the window's thread, and each worker gets its own answers.
TEST(Win32Dispatcher, KeepsEachWorkersOrderAmongSeveral) {
    constexpr int kWorkers = 4;
    constexpr int kCalls = 300;
    TestWindow window;
    TWin32Dispatcher dispatcher(window.Handle());
    const TDispatcher dispatch = dispatcher.Dispatcher();
    const DWORD windowThread = ::GetCurrentThreadId();
    // Written on the window's thread only.
    std::vector<std::vector<int>> seen(kWorkers);
    bool elsewhere = false;
    std::atomic<int> wrongAnswers{0};
    std::vector<std::unique_ptr<Worker>> workers;
    for (int w = 0; w < kWorkers; ++w)
        workers.push_back(std::make_unique<Worker>([&, w] {
            for (int i = 0; i < kCalls; ++i) {
                int answer = -1;
                dispatch([&, i] {
                    seen[static_cast<std::size_t>(w)].push_back(i);
                    elsewhere = elsewhere || ::GetCurrentThreadId() != windowThread;
                    answer = w * kCalls + i;
                });
                if (answer != w * kCalls + i)
                    ++wrongAnswers;
            }
        }));
    ASSERT_TRUE(HandleMessagesUntil([&] {
        for (const auto& worker : workers)
            if (!worker->Done())
                return false;
        return true;
    }));
    std::vector<int> expected(kCalls);
    for (int i = 0; i < kCalls; ++i)
        expected[static_cast<std::size_t>(i)] = i;
    for (const auto& one : seen)
        EXPECT_EQ(one, expected);
    EXPECT_FALSE(elsewhere);
    EXPECT_EQ(wrongAnswers.load(), 0);
}

TEST(Win32Dispatcher, AnErrorComesBackToTheWorkerWithItsType) {
    TestWindow window;
    TWin32Dispatcher dispatcher(window.Handle());
    const TDispatcher dispatch = dispatcher.Dispatcher();
    std::string convert, range, other, after;
    Worker worker([&] {
        try {
            dispatch([] { throw EConvertError("'abc' is not a valid integer value"); });
        } catch (const EConvertError& error) {
            convert = error.what();
        } catch (...) {
            convert = "another type";
        }
        try {
            dispatch([] { throw std::out_of_range("past the end"); });
        } catch (const std::out_of_range& error) {
            range = error.what();
        } catch (...) {
            range = "another type";
        }
        try {
            dispatch([] { throw 42; });
        } catch (int value) {
            other = std::to_string(value);
        } catch (...) {
            other = "another type";
        }
        // The dispatcher still works after an error.
        dispatch([&] { after = "ran"; });
    });
    ASSERT_TRUE(worker.HandleMessagesUntilDone());
    EXPECT_EQ(convert, "'abc' is not a valid integer value");
    EXPECT_EQ(range, "past the end");
    EXPECT_EQ(other, "42");
    EXPECT_EQ(after, "ran");
    EXPECT_FALSE(dispatcher.Closed());
}

TEST(Win32Dispatcher, RunsInPlaceOnTheWindowThread) {
    TestWindow window;
    TWin32Dispatcher dispatcher(window.Handle());
    const TDispatcher dispatch = dispatcher.Dispatcher();
    bool ran = false;
    // No message is handled here: a posted notification would never run.
    dispatch([&] { ran = true; });
    EXPECT_TRUE(ran);
    EXPECT_FALSE(window.HasPosted());
    EXPECT_THROW(dispatch([] { throw EInOutError("File not found"); }), EInOutError);
    dispatcher.Close();
    ran = false;
    EXPECT_THROW(dispatch([&] { ran = true; }), EWindowClosed);
    EXPECT_FALSE(ran);
}

// The window closes its dispatcher while a worker waits and the window's
// thread handles no message (it waits for its run); the notification left in
// the queue finds nothing when the window handles messages again, after the
// worker and its notification are long gone.
TEST(Win32Dispatcher, CloseReleasesAWaitingWorkerAndDropsItsNotification) {
    TestWindow window;
    auto dispatcher = std::make_unique<TWin32Dispatcher>(window.Handle());
    const TDispatcher dispatch = dispatcher->Dispatcher();
    std::atomic<bool> ran{false};
    std::atomic<int> refused{0};
    auto worker = std::make_unique<Worker>([&] {
        // A run goes on after a refused notification only to report its end,
        // which is refused too.
        for (int i = 0; i < 3; ++i) {
            // Freed when the worker goes on: a notification run later would
            // read freed memory.
            auto text = std::make_unique<std::string>("notification");
            if (Outcome(dispatch, [&ran, &text] { ran = !text->empty(); }) == kWindowClosedText)
                ++refused;
        }
    });
    ASSERT_TRUE(WaitUntil([&] { return window.HasPosted(); }));
    EXPECT_FALSE(worker->Done());
    dispatcher->Close();
    EXPECT_TRUE(dispatcher->Closed());
    ASSERT_TRUE(worker->WaitUntilDone());
    worker.reset();
    EXPECT_EQ(refused.load(), 3);

    const int handledBefore = gHandled;
    ASSERT_TRUE(HandleMessagesUntil([&] { return !window.HasPosted(); }));
    EXPECT_EQ(gHandled - handledBefore, 1); // its message came, and ran nothing
    EXPECT_FALSE(ran);
    EXPECT_THROW(dispatch([&] { ran = true; }), EWindowClosed);

    // The dispatcher object may go before the functions it gave out, from
    // any thread.
    dispatcher.reset();
    std::string later;
    Worker second([&] { later = Outcome(dispatch, [&] { ran = true; }); });
    ASSERT_TRUE(second.WaitUntilDone());
    EXPECT_EQ(later, kWindowClosedText);
    EXPECT_FALSE(ran);
}

TEST(Win32Dispatcher, DestroyingTheDispatcherReleasesAWaitingWorker) {
    TestWindow window;
    auto dispatcher = std::make_unique<TWin32Dispatcher>(window.Handle());
    const TDispatcher dispatch = dispatcher->Dispatcher();
    std::atomic<bool> ran{false};
    std::string result;
    Worker worker([&] { result = Outcome(dispatch, [&] { ran = true; }); });
    ASSERT_TRUE(WaitUntil([&] { return window.HasPosted(); }));
    dispatcher.reset();
    ASSERT_TRUE(worker.WaitUntilDone());
    EXPECT_EQ(result, kWindowClosedText);
    ASSERT_TRUE(HandleMessagesUntil([&] { return !window.HasPosted(); }));
    EXPECT_FALSE(ran);
}

// The window goes while a worker waits: its WM_DESTROY closes the dispatcher,
// without a call to Close.
TEST(Win32Dispatcher, DestroyingTheWindowClosesItsDispatcher) {
    TestWindow window;
    TestWindow other;
    TWin32Dispatcher dispatcher(window.Handle());
    TWin32Dispatcher otherDispatcher(other.Handle());
    const TDispatcher dispatch = dispatcher.Dispatcher();
    std::atomic<bool> ran{false};
    std::string result;
    Worker worker([&] { result = Outcome(dispatch, [&] { ran = true; }); });
    ASSERT_TRUE(WaitUntil([&] { return window.HasPosted(); }));
    window.Destroy();
    EXPECT_TRUE(dispatcher.Closed());
    ASSERT_TRUE(worker.WaitUntilDone());
    EXPECT_EQ(result, kWindowClosedText);
    HandleMessagesUntil([] { return false; }, std::chrono::milliseconds(50));
    EXPECT_FALSE(ran);

    std::string later;
    Worker second([&] { later = Outcome(dispatch, [&] { ran = true; }); });
    ASSERT_TRUE(second.WaitUntilDone());
    EXPECT_EQ(later, kWindowClosedText);
    EXPECT_FALSE(ran);
    // Another window's dispatcher stays open.
    EXPECT_FALSE(otherDispatcher.Closed());
}

// A window whose procedure knows nothing of the dispatcher: once it is gone,
// the message cannot be posted, and that closes the dispatcher too.
TEST(Win32Dispatcher, AWindowThatIsGoneRefusesTheNotification) {
    TestWindow window(false);
    TWin32Dispatcher dispatcher(window.Handle());
    const TDispatcher dispatch = dispatcher.Dispatcher();
    window.Destroy();
    EXPECT_FALSE(dispatcher.Closed());
    std::atomic<bool> ran{false};
    std::string result;
    Worker worker([&] { result = Outcome(dispatch, [&] { ran = true; }); });
    ASSERT_TRUE(worker.WaitUntilDone());
    EXPECT_EQ(result, kWindowClosedText);
    EXPECT_TRUE(dispatcher.Closed());
    EXPECT_FALSE(ran);
}

// Notifications posted in a stream while the window closes its dispatcher
// between them: each either ran before the close or never runs, and none
// runs after its worker has gone on.
TEST(Win32Dispatcher, ANotificationPostedJustBeforeCloseNeverRunsAfterIt) {
    for (int round = 0; round < 20; ++round) {
        TestWindow window;
        TWin32Dispatcher dispatcher(window.Handle());
        const TDispatcher dispatch = dispatcher.Dispatcher();
        std::atomic<int> sent{0}, ranAfterClose{0}, ran{0};
        std::atomic<bool> closed{false};
        Worker worker([&] {
            for (;;) {
                auto alive = std::make_shared<bool>(true);
                ++sent;
                try {
                    dispatch([&, alive] {
                        if (closed)
                            ++ranAfterClose;
                        if (*alive)
                            ++ran;
                    });
                } catch (const EWindowClosed&) {
                    return;
                }
            }
        });
        ASSERT_TRUE(HandleMessagesUntil([&] { return ran >= 5 + round; }));
        closed = true;
        dispatcher.Close();
        ASSERT_TRUE(worker.WaitUntilDone());
        HandleMessagesUntil([&] { return !window.HasPosted(); });
        EXPECT_EQ(ranAfterClose.load(), 0);
        EXPECT_LE(ran.load(), sent.load());
    }
}
