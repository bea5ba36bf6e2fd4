// The picture button's behaviour apart from its drawing: which of its three
// pictures shows, which of its four mouse events it raises, and when a left
// press and release click it. The window tells it where the pointer is and
// what the left button does; it answers what to show and raise.
#pragma once

#include <optional>

enum class TButtonPicture {
    Normal,  // the pointer is off the button
    Hover,   // over it, no press held ("up")
    Pressed, // over it with a left press held ("down")
};

enum class TButtonEvent { Down, Enter, Leave, Up };

// What one notice asks of the window: the picture to show now, if it
// changes, then the event to raise, if any.
struct TButtonStep {
    std::optional<TButtonPicture> Show;
    std::optional<TButtonEvent> Raise;

    bool operator==(const TButtonStep&) const = default;
};

// The state of one button. While Supported is false the button switches no
// picture and raises no event, but it still clicks and still follows the
// pointer, so that it is right when Supported comes back.
struct TImageButton {
    bool Supported = true;
    // As the button shows it: the pointer over it, a left press held.
    // Neither changes while Supported is false.
    bool MouseInside = false;
    bool Pressed = false;
    // A left press that a release over the button will make a click.
    bool ClickPending = false;
    // Where the pointer is as far as the button has been told; repeated
    // enter or leave notices change nothing.
    bool PointerInside = false;

    // The pointer came over the button or went off it. While the left button
    // is held the window has the pointer's moves (mouse capture) and tells
    // from them whether it is over the button.
    TButtonStep PointerEntered();
    TButtonStep PointerLeft();
    // A left press on the button (not the second of a double click): a
    // click to come, and the pressed picture while the pointer is over it.
    TButtonStep LeftPressed();
    // The second press of a double click: no pressed picture, nothing
    // raised, and no click from the release that follows.
    void DoubleClickPressed();
    // The left button went up, over the button (`inside`) or elsewhere.
    // Returns whether that clicks the button. The window raises the click,
    // and then, unless the click's handler got rid of the button, calls
    // ReleaseDone for the rest of the release.
    bool LeftReleased(bool inside);
    TButtonStep ReleaseDone();
};
