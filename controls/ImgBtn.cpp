#include "ImgBtn.h"

#include <QEnterEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPointer>

TWMMouse MouseMessage(unsigned msg, const QMouseEvent& event) {
    TWMMouse m;
    m.Msg = msg;
    const Qt::MouseButtons buttons = event.buttons();
    const Qt::KeyboardModifiers modifiers = event.modifiers();
    if (buttons & Qt::LeftButton)
        m.Keys |= TWMMouse::MK_LBUTTON;
    if (buttons & Qt::RightButton)
        m.Keys |= TWMMouse::MK_RBUTTON;
    if (modifiers & Qt::ShiftModifier)
        m.Keys |= TWMMouse::MK_SHIFT;
    if (modifiers & Qt::ControlModifier)
        m.Keys |= TWMMouse::MK_CONTROL;
    if (buttons & Qt::MiddleButton)
        m.Keys |= TWMMouse::MK_MBUTTON;
    // Windows hands over the low 16 bits of each coordinate, signed.
    const QPoint pos = event.position().toPoint();
    m.XPos = static_cast<std::int16_t>(pos.x());
    m.YPos = static_cast<std::int16_t>(pos.y());
    return m;
}

namespace {

void Raise(const TOnMouseEvent& handler, const TWMMouse& msg) {
    if (handler)
        handler(msg);
}

} // namespace

TImgBtn::TImgBtn(QWidget* owner) : QWidget(owner) {
    setFocusPolicy(Qt::NoFocus);
    resize(105, 105);
}

void TImgBtn::SetPic(const QPixmap& picture) {
    pic_ = picture;
    Show(pic_);
}

void TImgBtn::SetPicDown(const QPixmap& picture) {
    picDown_ = picture;
}

void TImgBtn::SetPicUp(const QPixmap& picture) {
    picUp_ = picture;
}

void TImgBtn::Show(const QPixmap& picture) {
    picture_ = picture;
    update();
}

void TImgBtn::paintEvent(QPaintEvent* /*event*/) {
    if (picture_.isNull())
        return;
    QPainter painter(this);
    painter.drawPixmap(0, 0, picture_);
}

void TImgBtn::Apply(const TButtonStep& step, const TWMMouse& msg) {
    if (step.Show) {
        switch (*step.Show) {
        case TButtonPicture::Normal:
            Show(pic_);
            break;
        case TButtonPicture::Hover:
            Show(picUp_);
            break;
        case TButtonPicture::Pressed:
            Show(picDown_);
            break;
        }
    }
    if (step.Raise) {
        switch (*step.Raise) {
        case TButtonEvent::Down:
            Raise(OnMouseDown, msg);
            break;
        case TButtonEvent::Enter:
            Raise(OnMouseEnter, msg);
            break;
        case TButtonEvent::Leave:
            Raise(OnMouseLeave, msg);
            break;
        case TButtonEvent::Up:
            Raise(OnMouseUp, msg);
            break;
        }
    }
}

// Qt hands enter and leave notices to disabled widgets as well, so a disabled
// button still lights up under the pointer.
void TImgBtn::enterEvent(QEnterEvent* /*event*/) {
    Apply(PointerEntered());
}

void TImgBtn::leaveEvent(QEvent* /*event*/) {
    Apply(PointerLeft());
}

void TImgBtn::mousePressEvent(QMouseEvent* event) {
    // Every button press stays with the button (it holds the mouse until the
    // last button goes up); only the left one does anything.
    event->accept();
    if (event->button() != Qt::LeftButton)
        return;
    Apply(LeftPressed(), MouseMessage(TWMMouse::WM_LBUTTONDOWN, *event));
}

// While a button is held Qt keeps the pointer's events with this widget and
// tells it nothing about leaving or coming back; work it out from the moves.
void TImgBtn::mouseMoveEvent(QMouseEvent* event) {
    event->accept();
    if (rect().contains(event->position().toPoint()))
        Apply(PointerEntered());
    else
        Apply(PointerLeft());
}

void TImgBtn::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
    if (event->button() != Qt::LeftButton)
        return;
    if (LeftReleased(rect().contains(event->position().toPoint()))) {
        const QPointer<TImgBtn> alive(this);
        emit clicked();
        if (!alive) // the click handler got rid of the button
            return;
    }
    Apply(ReleaseDone(), MouseMessage(TWMMouse::WM_LBUTTONUP, *event));
}

// The second press of a double click: no pressed picture and no click to
// come from the release that follows. (QWidget would treat it as a press.)
void TImgBtn::mouseDoubleClickEvent(QMouseEvent* event) {
    event->accept();
    if (event->button() == Qt::LeftButton)
        DoubleClickPressed();
}
