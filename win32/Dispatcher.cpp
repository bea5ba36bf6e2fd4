#include "Dispatcher.h"

#include <condition_variable>
#include <exception>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace {

enum class CallState { kPending, kRunning, kDone, kDropped };

// One notification on its way. The worker that made it waits until it is
// done or dropped; until then `fn`, which points into the worker's frame, is
// valid. Its fields are guarded by the registry's mutex, except `error`,
// which only the window's thread writes while the call runs.
struct Call {
    Call(const std::function<void()>& notification, HWND target, const void* owner)
        : fn(&notification), window(target), channel(owner) {}
    const std::function<void()>* fn;
    HWND window;         // where its message went
    const void* channel; // the channel that posted it, as a key
    CallState state = CallState::kPending;
    std::exception_ptr error;
    std::condition_variable changed;
};

// What every dispatcher of the program shares: the calls whose messages are
// on their way, by the number their message carries, and the channels that
// are still open. A message carries no pointer: one that arrives after its
// call was dropped finds nothing here and runs nothing, whatever has become
// of the worker and the channel meanwhile.
struct Registry {
    std::mutex mutex;
    std::unordered_map<WPARAM, std::shared_ptr<Call>> pending;
    std::vector<TWin32Dispatcher::Channel*> open;
    WPARAM lastId = 0;
};

// Never destroyed: a worker may still be on its way out when the program
// ends.
Registry& TheRegistry() {
    static Registry* registry = new Registry;
    return *registry;
}

// The dispatchers' message, the same in every window of the program and
// unlike any other window's message.
UINT CallMessage() {
    static const UINT message = ::RegisterWindowMessageW(L"Quenmor.Win32Dispatcher.Call");
    return message;
}

} // namespace

struct TWin32Dispatcher::Channel {
    explicit Channel(HWND target)
        : window(target), thread(::GetWindowThreadProcessId(target, nullptr)) {}
    const HWND window;
    const DWORD thread;  // the window's thread
    bool closed = false; // guarded by the registry's mutex

    // Under the registry's mutex.
    void CloseLocked(Registry& registry) {
        if (closed)
            return;
        closed = true;
        std::erase(registry.open, this);
        for (auto it = registry.pending.begin(); it != registry.pending.end();) {
            if (it->second->channel == this) {
                it->second->state = CallState::kDropped;
                it->second->changed.notify_one();
                it = registry.pending.erase(it);
            } else {
                ++it;
            }
        }
    }

    void Close() {
        Registry& registry = TheRegistry();
        std::lock_guard lock(registry.mutex);
        CloseLocked(registry);
    }

    bool Closed() {
        std::lock_guard lock(TheRegistry().mutex);
        return closed;
    }

    void Dispatch(const std::function<void()>& notification) {
        if (::GetCurrentThreadId() == thread) {
            if (Closed())
                throw EWindowClosed(kWindowClosedText);
            notification();
            return;
        }
        Registry& registry = TheRegistry();
        std::unique_lock lock(registry.mutex);
        if (closed)
            throw EWindowClosed(kWindowClosedText);
        const WPARAM id = ++registry.lastId;
        const auto call = std::make_shared<Call>(notification, window, this);
        registry.pending.emplace(id, call);
        // The window is gone, or its queue is full and will not be emptied
        // for us: either way no answer will come.
        if (CallMessage() == 0 || !::PostMessageW(window, CallMessage(), id, 0))
            CloseLocked(registry);
        call->changed.wait(lock, [&] {
            return call->state == CallState::kDone || call->state == CallState::kDropped;
        });
        if (call->state == CallState::kDropped)
            throw EWindowClosed(kWindowClosedText);
        if (call->error)
            std::rethrow_exception(call->error);
    }
};

TWin32Dispatcher::TWin32Dispatcher(HWND window) : channel_(std::make_shared<Channel>(window)) {
    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    registry.open.push_back(channel_.get());
}

TWin32Dispatcher::~TWin32Dispatcher() {
    Close();
}

TDispatcher TWin32Dispatcher::Dispatcher() const {
    return [channel = channel_](const std::function<void()>& notification) {
        channel->Dispatch(notification);
    };
}

void TWin32Dispatcher::Close() {
    channel_->Close();
}

bool TWin32Dispatcher::Closed() const {
    return channel_->Closed();
}

bool TWin32Dispatcher::Handle(HWND window, UINT message, WPARAM wParam, LPARAM) {
    Registry& registry = TheRegistry();
    if (message == WM_DESTROY) {
        std::lock_guard lock(registry.mutex);
        std::vector<Channel*> closing;
        for (Channel* channel : registry.open)
            if (channel->window == window)
                closing.push_back(channel);
        for (Channel* channel : closing)
            channel->CloseLocked(registry);
        return false;
    }
    if (message != CallMessage() || message == 0)
        return false;
    std::shared_ptr<Call> call;
    {
        std::lock_guard lock(registry.mutex);
        const auto it = registry.pending.find(wParam);
        // Dropped when its dispatcher closed; its worker has gone on.
        if (it == registry.pending.end() || it->second->window != window)
            return true;
        call = it->second;
        registry.pending.erase(it);
        call->state = CallState::kRunning;
    }
    // Unlocked: the notification may handle messages itself (a message box),
    // and so run further notifications, or close its dispatcher.
    try {
        (*call->fn)();
    } catch (...) {
        call->error = std::current_exception();
    }
    std::lock_guard lock(registry.mutex);
    call->state = CallState::kDone;
    call->changed.notify_one();
    return true;
}
