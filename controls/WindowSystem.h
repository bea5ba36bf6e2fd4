// What the windowing system under the program lets it do with its windows.
// On X11 (and elsewhere) a program places and moves its own windows, and a
// window's mask cuts both what it shows and where it takes the pointer. On
// Wayland the compositor places every window: a program sees no window
// positions, its own moves are ignored, and it asks the compositor to move a
// window with the pointer whose button is down on it; a window's mask there
// only limits where it takes pointer input, and what it shows is what it
// paints, transparent pixels included.
#pragma once

class QWidget;

// Whether the compositor, not the program, places the windows: Qt runs as a
// Wayland client (its platform name starts with "wayland"). False before the
// application object exists.
bool CompositorPlacesWindows();

// Asks the compositor to move `window`'s top-level window with the pointer
// whose button is down on it, for as long as the button stays down. True when
// it takes the move on; false when it cannot (no window yet, no pointer seat,
// a platform without such moves).
bool StartCompositorMove(QWidget& window);

// How many times StartCompositorMove asked the window system, and how many
// of those it took on, since the program started.
struct TCompositorMoves {
    int Asked = 0;
    int Accepted = 0;
};
TCompositorMoves CompositorMoves();
