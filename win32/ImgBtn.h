// The launcher's picture button in the Win32 window: three pictures (normal,
// hover, pressed) in a rectangle of its owner window, no window of its own,
// no caption, no focus, no keyboard.
#pragma once

#include "ImageButton.h"
#include "Pictures.h"

#include <windows.h>

#include <functional>
#include <memory>
#include <vector>

// The button's state and rules are TImageButton's, which the Qt window's
// button shares; this side turns the owner's mouse messages into its notices
// and its answers into pictures and clicks. The owner forwards its mouse
// messages with the pointer in client coordinates and paints the button from
// its WM_PAINT, over its own background (the button's rectangle is
// invalidated with erasing when its picture changes).
//
// As on the Qt side, a disabled button still lights up under the pointer but
// takes no press: its presses are the owner's (a window drag). An enabled
// button takes every press over it; only the left button's do anything.
class TImgBtn {
public:
    TImgBtn(HWND owner, RECT bounds, TPicture pic, TPicture up, TPicture down);
    ~TImgBtn();
    TImgBtn(const TImgBtn&) = delete;
    TImgBtn& operator=(const TImgBtn&) = delete;

    // A left press and release over the button. The handler may destroy the
    // button.
    std::function<void()> OnClick;

    // A hidden button draws nothing and takes nothing; hiding it drops its
    // press and its hover. Visible and enabled at first.
    void SetVisible(bool visible);
    // Disabling drops a press the button holds.
    void SetEnabled(bool enabled);
    bool Visible() const { return visible_; }
    bool Enabled() const { return enabled_; }
    RECT Bounds() const { return bounds_; }
    // The picture shown now.
    TButtonPicture Shown() const { return shown_; }
    // Whether the button holds a left press (and the owner's mouse capture).
    bool Holding() const { return holding_; }

    // Draws the picture shown, cut to the button's rectangle.
    void Paint(HDC dc) const;

    // WM_MOUSEMOVE: the pointer over the button or off it. Returns whether
    // the button holds a press (the move is the button's, not a drag's).
    bool MouseMove(POINT point);
    // WM_LBUTTONDOWN: a press over a visible, enabled button is taken, to be
    // a click if released over it; the button captures the owner's mouse
    // until the release.
    bool LeftDown(POINT point);
    // WM_LBUTTONUP: ends the press the button holds (click when over it).
    bool LeftUp(POINT point);
    // WM_LBUTTONDBLCLK (the second press of a double click): taken as a
    // press, but its release does not click.
    bool LeftDoubleClick(POINT point);
    // WM_RBUTTONDOWN, WM_MBUTTONDOWN: taken (and ignored) over a visible,
    // enabled button, so that they start no window drag.
    bool OtherDown(POINT point);
    // WM_MOUSELEAVE (the owner asks for it with TrackMouseEvent on its
    // moves): the pointer left the owner. Ignored while a press is held
    // (the capture keeps the moves coming).
    void MouseLeave();
    // WM_CAPTURECHANGED away from the owner while a press is held: the
    // press ends without a click.
    void CaptureLost();

private:
    bool Over(POINT point) const;
    void Apply(const TButtonStep& step);
    void Show(TButtonPicture picture);
    void Invalidate() const;
    // Takes the owner's mouse capture for a press, or gives it back.
    void Hold();
    void LetGo();
    // Ends a held press without a click.
    void DropPress();

    HWND owner_;
    RECT bounds_;
    TPicture pic_, up_, down_;
    TImageButton state_;
    TButtonPicture shown_ = TButtonPicture::Normal;
    bool visible_ = true;
    bool enabled_ = true;
    bool holding_ = false;
    // False once the button is gone, for a click whose handler destroys it.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

// The owner's buttons: each message goes to the button holding a press, or
// else to the topmost (last added) visible button under the pointer; while
// no button holds a press, a move also takes the others' hover away. The
// functions return whether a button took the message (then the owner does
// not pass it on to its window drag).
class TImgBtns {
public:
    TImgBtn& Add(HWND owner, RECT bounds, TPicture pic, TPicture up, TPicture down);

    bool MouseMove(POINT point);
    bool LeftDown(POINT point);
    bool LeftUp(POINT point);
    bool LeftDoubleClick(POINT point);
    bool OtherDown(POINT point);
    void MouseLeave();
    void CaptureLost();
    // Paints the visible buttons in the order they were added.
    void Paint(HDC dc) const;

private:
    TImgBtn* Holder() const;
    TImgBtn* Under(POINT point) const;

    std::vector<std::unique_ptr<TImgBtn>> buttons_;
};
