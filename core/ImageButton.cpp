#include "ImageButton.h"

TButtonStep TImageButton::PointerEntered() {
    if (PointerInside)
        return {};
    PointerInside = true;
    if (!Supported)
        return {};
    MouseInside = true;
    return {Pressed ? TButtonPicture::Pressed : TButtonPicture::Hover, TButtonEvent::Enter};
}

TButtonStep TImageButton::PointerLeft() {
    if (!PointerInside)
        return {};
    PointerInside = false;
    if (!Supported)
        return {};
    MouseInside = false;
    return {TButtonPicture::Normal, TButtonEvent::Leave};
}

TButtonStep TImageButton::LeftPressed() {
    ClickPending = true;
    if (!Supported)
        return {};
    Pressed = true;
    TButtonStep step{std::nullopt, TButtonEvent::Down};
    if (MouseInside)
        step.Show = TButtonPicture::Pressed;
    return step;
}

void TImageButton::DoubleClickPressed() {
    ClickPending = false;
}

bool TImageButton::LeftReleased(bool inside) {
    const bool click = ClickPending && inside;
    ClickPending = false;
    return click;
}

TButtonStep TImageButton::ReleaseDone() {
    if (!Supported)
        return {};
    Pressed = false;
    TButtonStep step{std::nullopt, TButtonEvent::Up};
    if (MouseInside)
        step.Show = TButtonPicture::Hover;
    return step;
}
