// Skinned, borderless windows: the window takes the look and the outline of a
// skin picture, and is moved by dragging its own surface.
#pragma once

#include "WindowDrag.h"
#include "WindowSystem.h"

#include <QImage>
#include <QRegion>

class QWidget;

// The pixels of `skin` whose colour differs from its key colour (the colour of
// its top-left pixel, compared exactly), within the skin's rectangle: its
// SkinOutline.
QRegion SkinRegion(const QImage& skin);

// Paints `skin` once, unscaled, at the window's top-left corner as its
// background and cuts the window to SkinRegion(skin): key-coloured pixels
// show and take clicks for whatever lies behind, and so does everything
// outside the skin's rectangle. Where the compositor places the windows
// (Wayland) the mask only cuts the window's input, so the window is made
// see-through there and its key-coloured pixels are painted transparent;
// that takes effect when the window is first shown, so the skin is applied
// before.
void ApplySkin(QWidget& window, const QImage& skin);

// The drag state of one window: TWindowDrag's, which the Win32 window shares,
// and the compositor's part of a drag. The window calls these from its own
// mouse handlers; presses on enabled child controls never reach them.
struct TSkinDrag : TWindowDrag {
    // Whether the compositor moves the window (CompositorPlacesWindows() when
    // the drag state is made).
    bool ByCompositor = CompositorPlacesWindows();
    // Whether the current press has asked the compositor already.
    bool CompositorAsked = false;

    // Any button starts a drag at (x, y).
    void MouseDown(int x, int y);
    // While dragging, moves the window by the pointer's displacement from the
    // press point: first its left edge, then its top edge. With ByCompositor,
    // the first move of a press asks the compositor to move the window with
    // the pointer instead; when it takes the move on, the drag ends here (the
    // compositor keeps the pointer until the button goes up, and the window
    // never sees that release). When it refuses, this press moves the window
    // as above.
    void MouseMove(QWidget& window, int x, int y);
};
