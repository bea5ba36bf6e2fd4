// Hands the update run's notifications from its worker thread to the Win32
// window's thread through the window's message queue: each runs there,
// between the window's other messages, and the worker waits until it has run
// and gets back whatever it raised.
#pragma once

#include "GetFilesThr.h"
#include "WindowClosed.h"

#include <windows.h>

#include <memory>

// The dispatcher of one window. Made on the window's thread; the dispatchers
// it gives out may be called from any thread, also after this object is gone.
//
// A call from the window's own thread runs the notification in place. A call
// from another thread posts a message to the window and blocks until the
// window procedure has handed it to Handle and it has run there; what it
// raised is raised again in the caller, with its own type.
//
// Once the dispatcher is closed, a notification runs nowhere: a waiting call
// and every later one raise EWindowClosed instead of blocking, so a worker
// that is still going ends its run (the engine catches that and stops)
// rather than waiting for a window that will never answer. A notification
// still in the window's queue then is never run: its message finds nothing
// when it arrives. It closes:
//  - when Close is called: the window calls it before it waits for its run to
//    end, since its thread does not handle messages while it waits, and when
//    its message loop has ended;
//  - when this object is destroyed;
//  - when the window is destroyed (Handle sees its WM_DESTROY), or a message
//    cannot be posted to it.
class TWin32Dispatcher {
public:
    explicit TWin32Dispatcher(HWND window);
    ~TWin32Dispatcher();
    TWin32Dispatcher(const TWin32Dispatcher&) = delete;
    TWin32Dispatcher& operator=(const TWin32Dispatcher&) = delete;

    // A dispatcher for GFilesThread. It shares this object's state.
    TDispatcher Dispatcher() const;

    // Refuses every further notification and releases the waiting ones.
    void Close();
    bool Closed() const;

    // For the window procedure, before its own handling of a message:
    //     if (TWin32Dispatcher::Handle(window, message, wParam, lParam))
    //         return 0;
    // Runs a notification posted to the window and returns true for the
    // dispatchers' message; closes the dispatchers of the window on its
    // WM_DESTROY and returns false, so that the window handles that too;
    // returns false for every other message.
    static bool Handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    struct Channel;

private:
    std::shared_ptr<Channel> channel_;
};
