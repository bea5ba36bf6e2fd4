// Skinned, borderless windows: the window takes the look and the outline of a
// skin picture, and is moved by dragging its own surface.
#pragma once

#include <QImage>
#include <QRegion>

class QWidget;

// The pixels of `skin` whose colour differs from its key colour (the colour of
// its top-left pixel, compared exactly), within the skin's rectangle.
QRegion SkinRegion(const QImage& skin);

// Paints `skin` once, unscaled, at the window's top-left corner as its
// background and cuts the window to SkinRegion(skin): key-coloured pixels
// show and take clicks for whatever lies behind, and so does everything
// outside the skin's rectangle.
void ApplySkin(QWidget& window, const QImage& skin);

// The drag state of one window. The window calls these from its own mouse
// handlers; presses on enabled child controls never reach them.
struct TSkinDrag {
    bool Dragging = false;
    int DragX = 0; // the pointer position in window coordinates when the button went down
    int DragY = 0;

    // Any button starts a drag at (x, y).
    void MouseDown(int x, int y);
    // While dragging, moves the window by the pointer's displacement from the
    // press point: first its left edge, then its top edge.
    void MouseMove(QWidget& window, int x, int y);
    // Any button ends the drag.
    void MouseUp();
};
