// The news panel of the Win32 window: the system's web browser control,
// hosted in place in a child window of the main window through OLE, showing
// the news page and telling the window when a page has been shown.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

struct IOleObject;
struct IOleInPlaceObject;
struct IWebBrowser2;
struct IConnectionPoint;

class TNewsBrowser {
public:
    // Makes the panel as a child window of `parent` at `bounds` (in the
    // parent's client coordinates), hidden until Show, with the browser
    // control in place in it. On the window's thread, with OLE initialised
    // on it (OleInitialize) by the program. When the control cannot be made
    // (not installed, OLE not initialised), the panel stays blank and
    // nothing else changes: see Created (the main window then paints its
    // placeholder instead).
    TNewsBrowser(HWND parent, RECT bounds);
    // Closes the control, stops its events and releases it, and destroys
    // the panel's window.
    ~TNewsBrowser();
    TNewsBrowser(const TNewsBrowser&) = delete;
    TNewsBrowser& operator=(const TNewsBrowser&) = delete;

    // Whether the control is there; when it is not, Navigate does nothing.
    bool Created() const;
    // The panel's own window (null when even that could not be made).
    HWND Window() const { return panel_; }

    // Shows the page at a UTF-8 address; an empty one shows an empty page.
    void Navigate(const std::string& utf8Url);
    void Show(bool visible);

    // Called on the window's thread when the control has shown a page in its
    // top frame (the page asked for or the control's own page of a failure),
    // as the Qt window's news page ends loading. What it raises is dropped,
    // since it cannot cross into the control: it handles its own errors.
    std::function<void()> OnNavigateComplete;
    // Called on the window's thread when a navigation of the top frame has
    // ended: with true when the control shows the page, with false when it
    // could not (no connection, an error answer of the server: the control's
    // own page of a failure). Before OnNavigateComplete for the same page;
    // what it raises is dropped likewise.
    std::function<void(bool shown)> OnLoadingFinished;

    class TSite;
    class TEvents;

private:
    bool Embed(RECT area);
    void TearDown();

    HWND panel_ = nullptr;
    TSite* site_ = nullptr;
    TEvents* events_ = nullptr;
    IOleObject* object_ = nullptr;
    IOleInPlaceObject* inPlace_ = nullptr;
    IWebBrowser2* browser_ = nullptr;
    IConnectionPoint* connection_ = nullptr;
    DWORD cookie_ = 0;
};
