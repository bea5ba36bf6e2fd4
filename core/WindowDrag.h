// Moving a borderless window by dragging its own surface: where the window
// goes while the pointer moves with a button held down.
#pragma once

#include <optional>

// A window's top-left corner on the screen.
struct TWindowPos {
    int Left = 0;
    int Top = 0;

    bool operator==(const TWindowPos&) const = default;
};

// The drag state of one window, fed from its own mouse messages, pointer
// positions in window coordinates.
struct TWindowDrag {
    bool Dragging = false;
    int DragX = 0; // the pointer position when the button went down
    int DragY = 0;

    // Any button starts a drag at (x, y).
    void MouseDown(int x, int y);
    // While dragging, where the window at (left, top) goes for the pointer
    // at (x, y): its left edge moved by x - DragX, then its top edge by
    // y - DragY, which brings the press point back under the pointer. No
    // threshold; not dragging, nothing.
    std::optional<TWindowPos> MouseMove(int x, int y, int left, int top) const;
    // Any button ends the drag.
    void MouseUp();
};
