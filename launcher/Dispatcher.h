// Hands the update run's notifications from its worker thread to the window's
// thread: each runs there, between the window's other events, and the worker
// waits until it has run and gets back whatever it raised.
#pragma once

#include "GetFilesThr.h"
#include "WindowClosed.h"

#include <memory>

class QObject;

// The dispatcher of one window. Made on the window's thread; the dispatchers
// it gives out may be called from any thread, also after this object is gone.
//
// A call from the window's own thread runs the notification in place. A call
// from another thread posts it to the window's event queue and blocks until
// it has run there; what it raised is raised again in the caller, with its
// own type.
//
// Once the dispatcher is closed, a notification runs nowhere: a waiting call
// and every later one raise EWindowClosed instead of blocking, so a worker
// that is still going ends its run (the engine catches that and stops)
// rather than waiting for a window that will never answer. It closes:
//  - when Close is called: the window calls it before it waits for its run to
//    end, since its thread does not process events while it waits;
//  - when this object is destroyed;
//  - when the context object is destroyed;
//  - when the application's event loop has ended (aboutToQuit).
class TWindowDispatcher {
public:
    explicit TWindowDispatcher(QObject* context);
    ~TWindowDispatcher();
    TWindowDispatcher(const TWindowDispatcher&) = delete;
    TWindowDispatcher& operator=(const TWindowDispatcher&) = delete;

    // A dispatcher for GFilesThread. It shares this object's state.
    TDispatcher Dispatcher() const;

    // Refuses every further notification and releases the waiting one.
    void Close();
    bool Closed() const;

    struct Channel;

private:
    std::shared_ptr<Channel> channel_;
};

// A dispatcher for `context` that closes when the context object is destroyed
// or the event loop ends (see TWindowDispatcher).
TDispatcher WindowDispatcher(QObject* context);
