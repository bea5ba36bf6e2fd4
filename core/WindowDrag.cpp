#include "WindowDrag.h"

void TWindowDrag::MouseDown(int x, int y) {
    Dragging = true;
    DragX = x;
    DragY = y;
}

std::optional<TWindowPos> TWindowDrag::MouseMove(int x, int y, int left, int top) const {
    if (!Dragging)
        return std::nullopt;
    return TWindowPos{left + x - DragX, top + y - DragY};
}

void TWindowDrag::MouseUp() {
    Dragging = false;
}
