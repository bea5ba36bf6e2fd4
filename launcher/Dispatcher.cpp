#include "Dispatcher.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QThread>

#include <atomic>
#include <exception>
#include <mutex>

namespace {

enum CallState : int { kPending, kRunning, kDone, kDropped };

// One notification on its way; shared by the worker and the event that
// carries it, since either may be the last to let go of it.
struct Call {
    explicit Call(const std::function<void()>& notification) : fn(&notification) {}
    // Valid while the state is kPending or kRunning: the worker waits until
    // it is neither.
    const std::function<void()>* fn;
    std::exception_ptr error;
    std::atomic<int> state{kPending};

    void Finish(int final) {
        state.store(final, std::memory_order_release);
        state.notify_one();
    }
};

QEvent::Type CallEventType() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

class CallEvent : public QEvent {
public:
    explicit CallEvent(std::shared_ptr<Call> call)
        : QEvent(CallEventType()), call_(std::move(call)) {}
    CallEvent(const CallEvent&) = delete;
    CallEvent& operator=(const CallEvent&) = delete;
    // An event that is deleted without having run (its receiver is gone, or
    // the dispatcher was closed and removed it) releases its worker.
    ~CallEvent() override {
        int expected = kPending;
        if (call_->state.compare_exchange_strong(expected, kDropped, std::memory_order_acq_rel))
            call_->Finish(kDropped);
    }

    void Run() {
        int expected = kPending;
        if (!call_->state.compare_exchange_strong(expected, kRunning, std::memory_order_acq_rel))
            return;
        try {
            (*call_->fn)();
        } catch (...) {
            call_->error = std::current_exception();
        }
        call_->Finish(kDone);
    }

private:
    std::shared_ptr<Call> call_;
};

} // namespace

struct TWindowDispatcher::Channel {
    std::mutex mutex;
    bool closed = false;         // guarded by mutex
    QObject* receiver = nullptr; // guarded by mutex
    QThread* thread = nullptr;
    std::atomic<bool> closedFlag{false};

    void Close() {
        std::lock_guard lock(mutex);
        closed = true;
        closedFlag = true;
        if (receiver)
            QCoreApplication::removePostedEvents(receiver, CallEventType());
    }

    void Dispatch(const std::function<void()>& notification) {
        if (QThread::currentThread() == thread) {
            if (closedFlag)
                throw EWindowClosed(kWindowClosedText);
            notification();
            return;
        }
        const auto call = std::make_shared<Call>(notification);
        {
            std::lock_guard lock(mutex);
            if (closed)
                throw EWindowClosed(kWindowClosedText);
            QCoreApplication::postEvent(receiver, new CallEvent(call));
        }
        // The worker sleeps until the window's thread has run it, or dropped
        // it; runs hand notifications over in batches, so a hand-over is
        // rare enough that waking for each costs nothing worth spinning for.
        int state = call->state.load(std::memory_order_acquire);
        while (state < kDone) {
            call->state.wait(state, std::memory_order_acquire);
            state = call->state.load(std::memory_order_acquire);
        }
        if (state == kDropped)
            throw EWindowClosed(kWindowClosedText);
        if (call->error)
            std::rethrow_exception(call->error);
    }
};

namespace {

// Lives on the window's thread as a child of the context object, so that it
// goes with it; runs the notifications posted to it.
class Receiver : public QObject {
public:
    Receiver(QObject* context, std::shared_ptr<TWindowDispatcher::Channel> channel)
        : QObject(context), channel_(std::move(channel)) {
        // The event loop has ended: nothing posted now would ever run.
        QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this,
                         [this] { channel_->Close(); });
    }
    ~Receiver() override {
        // Closed before QObject's destructor deletes the events still queued
        // here (which releases their workers), so that no worker posts again.
        std::lock_guard lock(channel_->mutex);
        channel_->closed = true;
        channel_->closedFlag = true;
        channel_->receiver = nullptr;
    }
    Receiver(const Receiver&) = delete;
    Receiver& operator=(const Receiver&) = delete;

    bool event(QEvent* event) override {
        if (event->type() != CallEventType())
            return QObject::event(event);
        static_cast<CallEvent*>(event)->Run();
        return true;
    }

private:
    std::shared_ptr<TWindowDispatcher::Channel> channel_;
};

std::shared_ptr<TWindowDispatcher::Channel> OpenChannel(QObject* context) {
    auto channel = std::make_shared<TWindowDispatcher::Channel>();
    channel->thread = context->thread();
    auto* receiver = new Receiver(context, channel);
    std::lock_guard lock(channel->mutex);
    channel->receiver = receiver;
    return channel;
}

} // namespace

TWindowDispatcher::TWindowDispatcher(QObject* context) : channel_(OpenChannel(context)) {}

TWindowDispatcher::~TWindowDispatcher() {
    Close();
    QObject* receiver;
    {
        std::lock_guard lock(channel_->mutex);
        receiver = channel_->receiver;
    }
    // Made and deleted on the window's thread; gone already when the context
    // went first.
    delete receiver;
}

TDispatcher TWindowDispatcher::Dispatcher() const {
    return [channel = channel_](const std::function<void()>& notification) {
        channel->Dispatch(notification);
    };
}

void TWindowDispatcher::Close() {
    channel_->Close();
}

bool TWindowDispatcher::Closed() const {
    return channel_->closedFlag;
}

TDispatcher WindowDispatcher(QObject* context) {
    return [channel = OpenChannel(context)](const std::function<void()>& notification) {
        channel->Dispatch(notification);
    };
}
