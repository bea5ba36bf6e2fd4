#include "WindowSystem.h"

#include <QGuiApplication>
#include <QWidget>
#include <QWindow>

namespace {

TCompositorMoves moves;

} // namespace

bool CompositorPlacesWindows() {
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

bool StartCompositorMove(QWidget& window) {
    QWindow* handle = window.window()->windowHandle();
    if (!handle)
        return false;
    ++moves.Asked;
    const bool accepted = handle->startSystemMove();
    if (accepted)
        ++moves.Accepted;
    return accepted;
}

TCompositorMoves CompositorMoves() {
    return moves;
}
