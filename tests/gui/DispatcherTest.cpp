// The window dispatcher: notifications from a worker thread run on the
// window's thread, in order, with their errors handed back; in place on the
// window's thread; never a worker left waiting for a window that is gone.
#include "Dispatcher.h"

#include <QEventLoop>
#include <QTimer>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// A worker thread running `body` once. Waits are bounded; a worker that does
// not end in time is left detached so that the test fails instead of hanging.
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

    // Runs the window's event loop until the worker has ended.
    bool RunEventsUntilDone(std::chrono::milliseconds timeout) {
        if (done_)
            return true;
        QEventLoop loop;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
            if (done_)
                loop.quit();
        });
        poll.start(5);
        QTimer::singleShot(timeout, &loop, &QEventLoop::quit);
        loop.exec();
        return done_;
    }

    // Waits without processing any event, as a window thread does that waits
    // for its run to end.
    bool WaitWithoutEvents(std::chrono::milliseconds timeout) {
        const auto until = Clock::now() + timeout;
        while (!done_ && Clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return done_;
    }

private:
    std::atomic<bool> done_{false};
    std::thread thread_;
};

// Waits, without processing events, until `flag` is set.
bool WaitForFlag(const std::atomic<bool>& flag, std::chrono::milliseconds timeout) {
    const auto until = Clock::now() + timeout;
    while (!flag && Clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return flag;
}

constexpr std::chrono::milliseconds kTimeout(10000);

} // namespace

class DispatcherTest : public QObject {
    Q_OBJECT

private slots:
    void runsOnTheWindowThread() {
        QObject context;
        const TDispatcher dispatch = WindowDispatcher(&context);
        std::atomic<QThread*> ranOn{nullptr};
        Worker worker([&] { dispatch([&] { ranOn = QThread::currentThread(); }); });
        QVERIFY(worker.RunEventsUntilDone(kTimeout));
        QCOMPARE(ranOn.load(), qApp->thread());
        QVERIFY(ranOn.load() != nullptr);
    }

    void workerWaitsUntilTheNotificationHasRun() {
        QObject context;
        const TDispatcher dispatch = WindowDispatcher(&context);
        std::mutex mutex;
        std::vector<std::string> order;
        const auto note = [&](const std::string& what) {
            std::lock_guard lock(mutex);
            order.push_back(what);
        };
        Worker worker([&] {
            for (int i = 0; i < 3; ++i) {
                dispatch([&, i] {
                    note("window " + std::to_string(i) + " begins");
                    std::this_thread::sleep_for(std::chrono::milliseconds(20));
                    note("window " + std::to_string(i) + " ends");
                });
                note("worker goes on after " + std::to_string(i));
            }
        });
        QVERIFY(worker.RunEventsUntilDone(kTimeout));
        const std::vector<std::string> expected = {
            "window 0 begins", "window 0 ends", "worker goes on after 0",
            "window 1 begins", "window 1 ends", "worker goes on after 1",
            "window 2 begins", "window 2 ends", "worker goes on after 2"};
        QCOMPARE(order, expected);
    }

    void anErrorComesBackToTheWorker() {
        QObject context;
        TWindowDispatcher dispatcher(&context);
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
        QVERIFY(worker.RunEventsUntilDone(kTimeout));
        QCOMPARE(convert, std::string("'abc' is not a valid integer value"));
        QCOMPARE(range, std::string("past the end"));
        QCOMPARE(other, std::string("42"));
        QCOMPARE(after, std::string("ran"));
        QVERIFY(!dispatcher.Closed());
    }

    void runsInPlaceOnTheWindowThread() {
        QObject context;
        const TDispatcher dispatch = WindowDispatcher(&context);
        bool ran = false;
        // No event is processed here: a posted notification would never run.
        dispatch([&] {
            QCOMPARE(QThread::currentThread(), qApp->thread());
            ran = true;
        });
        QVERIFY(ran);
        QVERIFY_THROWS_EXCEPTION(EInOutError,
                                 dispatch([] { throw EInOutError("File not found"); }));
    }

    void contextDestroyedWhileAWorkerWaits() {
        auto* context = new QObject;
        const TDispatcher dispatch = WindowDispatcher(context);
        std::atomic<bool> sending{false}, ran{false};
        std::string result;
        Worker worker([&] {
            sending = true;
            try {
                dispatch([&] { ran = true; });
                result = "returned";
            } catch (const EWindowClosed& error) {
                result = error.what();
            }
        });
        QVERIFY(WaitForFlag(sending, kTimeout));
        std::this_thread::sleep_for(std::chrono::milliseconds(50)); // now waiting
        QVERIFY(!worker.Done());
        delete context;
        QVERIFY(worker.WaitWithoutEvents(kTimeout));
        QCOMPARE(result, std::string(kWindowClosedText));
        QCoreApplication::processEvents();
        QVERIFY(!ran);

        // Later notifications are refused at once, from any thread.
        std::string later;
        Worker second([&] {
            try {
                dispatch([&] { ran = true; });
            } catch (const EWindowClosed& error) {
                later = error.what();
            }
        });
        QVERIFY(second.WaitWithoutEvents(kTimeout));
        QCOMPARE(later, std::string(kWindowClosedText));
        QVERIFY_THROWS_EXCEPTION(EWindowClosed, dispatch([&] { ran = true; }));
        QVERIFY(!ran);
    }

    void closeReleasesAWorkerWhileTheWindowWaitsForIt() {
        QObject context;
        auto dispatcher = std::make_unique<TWindowDispatcher>(&context);
        const TDispatcher dispatch = dispatcher->Dispatcher();
        std::atomic<bool> sending{false}, ran{false};
        std::atomic<int> refused{0};
        Worker worker([&] {
            sending = true;
            // A run goes on after a refused notification only to report its
            // end, which is refused too.
            for (int i = 0; i < 3; ++i) {
                try {
                    dispatch([&] { ran = true; });
                } catch (const EWindowClosed&) {
                    ++refused;
                }
            }
        });
        QVERIFY(WaitForFlag(sending, kTimeout));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        QVERIFY(!worker.Done());
        // The window closes its dispatcher and then waits for its run.
        dispatcher->Close();
        QVERIFY(dispatcher->Closed());
        QVERIFY(worker.WaitWithoutEvents(kTimeout));
        QCOMPARE(refused.load(), 3);
        QCoreApplication::processEvents();
        QVERIFY(!ran);
        QVERIFY_THROWS_EXCEPTION(EWindowClosed, dispatch([&] { ran = true; }));

        // The dispatcher object may go before the functions it gave out.
        dispatcher.reset();
        QVERIFY_THROWS_EXCEPTION(EWindowClosed, dispatch([&] { ran = true; }));
        QVERIFY(!ran);
    }

    void destroyingTheDispatcherReleasesAWaitingWorker() {
        QObject context;
        auto dispatcher = std::make_unique<TWindowDispatcher>(&context);
        const TDispatcher dispatch = dispatcher->Dispatcher();
        std::atomic<bool> sending{false};
        std::string result;
        Worker worker([&] {
            sending = true;
            try {
                dispatch([] {});
                result = "returned";
            } catch (const EWindowClosed& error) {
                result = error.what();
            }
        });
        QVERIFY(WaitForFlag(sending, kTimeout));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        dispatcher.reset();
        QVERIFY(worker.WaitWithoutEvents(kTimeout));
        QCOMPARE(result, std::string(kWindowClosedText));
        QCOMPARE(context.children().size(), qsizetype{0}); // nothing left behind
    }

    void theWindowRunsOtherEventsBetweenNotifications() {
        QObject context;
        const TDispatcher dispatch = WindowDispatcher(&context);
        int ticks = 0;
        QTimer timer;
        connect(&timer, &QTimer::timeout, this, [&] { ++ticks; });
        timer.start(1);
        std::atomic<bool> stop{false};
        std::atomic<long> calls{0};
        Worker worker([&] {
            const auto until = Clock::now() + std::chrono::milliseconds(300);
            while (!stop && Clock::now() < until) {
                dispatch([] {});
                ++calls;
            }
        });
        QVERIFY(worker.RunEventsUntilDone(kTimeout));
        timer.stop();
        qInfo("%ld notifications and %d timer events in 300 ms", calls.load(), ticks);
        QVERIFY(calls > 100);
        QVERIFY(ticks > 10);
    }

    void throughput() {
        constexpr int kCalls = 100000;
        QObject context;
        const TDispatcher dispatch = WindowDispatcher(&context);
        long counter = 0;

        const auto measure = [&](const char* what, const TDispatcher& how) {
            counter = 0;
            std::atomic<double> seconds{0};
            Worker worker([&] {
                const auto start = Clock::now();
                for (int i = 0; i < kCalls; ++i)
                    how([&] { ++counter; });
                seconds = std::chrono::duration<double>(Clock::now() - start).count();
            });
            QVERIFY(worker.RunEventsUntilDone(std::chrono::milliseconds(100000)));
            QCOMPARE(counter, long{kCalls});
            qInfo("%s: %d round trips in %.3f s, %.2f us each", what, kCalls, seconds.load(),
                  seconds.load() * 1e6 / kCalls);
        };

        measure("window dispatcher (posted event, spin, then wait)", dispatch);
        measure("QMetaObject::invokeMethod, Qt::BlockingQueuedConnection",
                [&](const std::function<void()>& notification) {
                    std::exception_ptr error;
                    QMetaObject::invokeMethod(
                        &context,
                        [&] {
                            try {
                                notification();
                            } catch (...) {
                                error = std::current_exception();
                            }
                        },
                        Qt::BlockingQueuedConnection);
                    if (error)
                        std::rethrow_exception(error);
                });
    }

    // Last: it ends the application's event loop, which closes every
    // dispatcher.
    void endOfTheEventLoopReleasesAWorker() {
        QObject context;
        const TDispatcher dispatch = WindowDispatcher(&context);
        std::atomic<int> ran{0};
        std::string result;
        Worker worker([&] {
            try {
                for (int i = 0; i < 1000000; ++i)
                    dispatch([&] {
                        if (++ran == 100)
                            QCoreApplication::quit();
                    });
                result = "all ran";
            } catch (const EWindowClosed& error) {
                result = error.what();
            }
        });
        QTimer::singleShot(kTimeout, qApp, &QCoreApplication::quit); // a guard
        QCoreApplication::exec();
        // The loop has ended and nothing processes events any more.
        QVERIFY(worker.WaitWithoutEvents(kTimeout));
        QCOMPARE(result, std::string(kWindowClosedText));
        QVERIFY(ran >= 100);
        QVERIFY(ran < 1000000);
    }
};

QTEST_MAIN(DispatcherTest)
#include "DispatcherTest.moc"
