#include "ImgBtn.h"

#include <utility>

TImgBtn::TImgBtn(HWND owner, RECT bounds, TPicture pic, TPicture up, TPicture down)
    : owner_(owner), bounds_(bounds), pic_(std::move(pic)), up_(std::move(up)),
      down_(std::move(down)) {}

TImgBtn::~TImgBtn() {
    *alive_ = false;
    LetGo();
}

void TImgBtn::SetVisible(bool visible) {
    if (visible == visible_)
        return;
    if (!visible) {
        DropPress();
        Apply(state_.PointerLeft());
    }
    visible_ = visible;
    Invalidate();
}

void TImgBtn::SetEnabled(bool enabled) {
    if (!enabled)
        DropPress();
    enabled_ = enabled;
}

void TImgBtn::Paint(HDC dc) const {
    if (!visible_)
        return;
    const TPicture& picture = shown_ == TButtonPicture::Hover     ? up_
                              : shown_ == TButtonPicture::Pressed ? down_
                                                                  : pic_;
    picture.DrawPart(dc, bounds_.left, bounds_.top, 0, 0, bounds_.right - bounds_.left,
                     bounds_.bottom - bounds_.top);
}

bool TImgBtn::MouseMove(POINT point) {
    // Qt tells a disabled button of the pointer too, so it lights up all
    // the same.
    Apply(Over(point) ? state_.PointerEntered() : state_.PointerLeft());
    return holding_;
}

bool TImgBtn::LeftDown(POINT point) {
    if (!enabled_ || !Over(point))
        return false;
    Apply(state_.PointerEntered()); // in case no move came before
    Apply(state_.LeftPressed());
    Hold();
    return true;
}

bool TImgBtn::LeftUp(POINT point) {
    if (!holding_)
        return false;
    LetGo();
    if (state_.LeftReleased(Over(point))) {
        // The handler may destroy the button, and the handler with it.
        const std::shared_ptr<bool> alive = alive_;
        const std::function<void()> onClick = OnClick;
        if (onClick)
            onClick();
        if (!*alive)
            return true;
    }
    Apply(state_.ReleaseDone());
    return true;
}

bool TImgBtn::LeftDoubleClick(POINT point) {
    if (!enabled_ || !Over(point))
        return false;
    Apply(state_.PointerEntered());
    state_.DoubleClickPressed();
    Hold();
    return true;
}

bool TImgBtn::OtherDown(POINT point) {
    return enabled_ && Over(point);
}

void TImgBtn::MouseLeave() {
    if (!holding_)
        Apply(state_.PointerLeft());
}

void TImgBtn::CaptureLost() {
    if (!holding_)
        return;
    holding_ = false; // the capture is someone else's already
    DropPress();
}

bool TImgBtn::Over(POINT point) const {
    return visible_ && PtInRect(&bounds_, point);
}

void TImgBtn::Apply(const TButtonStep& step) {
    // The button's four mouse events have no listeners here; only the
    // pictures count.
    if (step.Show)
        Show(*step.Show);
}

void TImgBtn::Show(TButtonPicture picture) {
    if (picture == shown_)
        return;
    shown_ = picture;
    Invalidate();
}

void TImgBtn::Invalidate() const {
    if (owner_)
        InvalidateRect(owner_, &bounds_, TRUE);
}

void TImgBtn::Hold() {
    holding_ = true;
    if (owner_ && GetCapture() != owner_)
        SetCapture(owner_);
}

void TImgBtn::LetGo() {
    if (!holding_)
        return;
    holding_ = false;
    // Releasing sends the owner WM_CAPTURECHANGED, which finds no press.
    if (owner_ && GetCapture() == owner_)
        ReleaseCapture();
}

void TImgBtn::DropPress() {
    LetGo();
    if (!state_.ClickPending && !state_.Pressed)
        return;
    state_.LeftReleased(false);
    Apply(state_.ReleaseDone());
}

TImgBtn& TImgBtns::Add(HWND owner, RECT bounds, TPicture pic, TPicture up, TPicture down) {
    buttons_.push_back(
        std::make_unique<TImgBtn>(owner, bounds, std::move(pic), std::move(up), std::move(down)));
    return *buttons_.back();
}

TImgBtn* TImgBtns::Holder() const {
    for (const auto& button : buttons_) {
        if (button->Holding())
            return button.get();
    }
    return nullptr;
}

TImgBtn* TImgBtns::Under(POINT point) const {
    for (auto it = buttons_.rbegin(); it != buttons_.rend(); ++it) {
        const RECT bounds = (*it)->Bounds();
        if ((*it)->Visible() && PtInRect(&bounds, point))
            return it->get();
    }
    return nullptr;
}

bool TImgBtns::MouseMove(POINT point) {
    if (TImgBtn* holder = Holder())
        return holder->MouseMove(point);
    // Only the topmost button under the pointer counts it as over itself.
    const TImgBtn* under = Under(point);
    for (const auto& button : buttons_) {
        if (button.get() == under)
            button->MouseMove(point);
        else
            button->MouseLeave();
    }
    return false;
}

bool TImgBtns::LeftDown(POINT point) {
    if (Holder())
        return true;
    TImgBtn* under = Under(point);
    return under && under->LeftDown(point);
}

bool TImgBtns::LeftUp(POINT point) {
    TImgBtn* holder = Holder();
    return holder && holder->LeftUp(point); // the click may end this list
}

bool TImgBtns::LeftDoubleClick(POINT point) {
    if (Holder())
        return true;
    TImgBtn* under = Under(point);
    return under && under->LeftDoubleClick(point);
}

bool TImgBtns::OtherDown(POINT point) {
    if (Holder())
        return true;
    TImgBtn* under = Under(point);
    return under && under->OtherDown(point);
}

void TImgBtns::MouseLeave() {
    for (const auto& button : buttons_)
        button->MouseLeave();
}

void TImgBtns::CaptureLost() {
    if (TImgBtn* holder = Holder())
        holder->CaptureLost();
}

void TImgBtns::Paint(HDC dc) const {
    for (const auto& button : buttons_)
        button->Paint(dc);
}
