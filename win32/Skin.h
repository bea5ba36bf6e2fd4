// Skinned, borderless Win32 windows: the window takes the outline of a skin
// picture, and is moved by dragging its own surface.
#pragma once

#include "Pictures.h"
#include "WindowDrag.h"

#include <windows.h>

// The pixels of `skin` whose colour differs from its key colour (the colour
// of its top-left pixel, compared exactly), within the skin's rectangle: its
// SkinOutline, as a region in the skin's coordinates. The skin is an opaque
// picture (its colours are compared as they are stored). An empty or
// all-key skin gives an empty region. The caller owns the region.
HRGN SkinRegion(const TPicture& skin);

// Cuts `window` to SkinRegion(skin), in window coordinates (a borderless
// window's are its client's): key-coloured pixels show and take clicks for
// whatever lies behind, and so does everything outside the skin's rectangle;
// an empty skin leaves nothing of the window. Then redraws the window; its
// WM_PAINT draws the skin itself (skin.Draw(dc, 0, 0)).
void ApplySkin(HWND window, const TPicture& skin);

// The drag state of one window: TWindowDrag's, which the Qt window shares.
// Each message's pointer position is taken to the screen and from there to
// the window's own coordinates where the window is now, so the window's own
// moves never add to the drag: the press point stays under the pointer.
class TSkinDrag {
public:
    // For the window's procedure: takes any button's press or double
    // click (starts a drag and captures the mouse), the pointer's moves
    // while dragging (moves the window, its left edge first, then its top
    // edge), any button's release (ends the drag; releases the capture once
    // no button is held) and the loss of the capture (ends the drag).
    // Returns whether it took the message; a move while not dragging it
    // leaves.
    bool HandleMessage(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);

    bool Dragging() const { return drag_.Dragging; }

private:
    TWindowDrag drag_;
    bool captured_ = false; // this drag's press holds the mouse
};
