// The launcher's picture button: three pictures (normal, hover, pressed), no
// caption, no focus, no keyboard.
#pragma once

#include "ImageButton.h"

#include <QPixmap>
#include <QWidget>

#include <cstdint>
#include <functional>

// The mouse message handed to the button's own events: for a press or a
// release its key flags and the pointer position in the button's coordinates;
// for entering and leaving, zeros.
struct TWMMouse {
    // Msg of a left press and of a left release, as Windows numbers them.
    static constexpr unsigned WM_LBUTTONDOWN = 0x0201;
    static constexpr unsigned WM_LBUTTONUP = 0x0202;
    // Keys: the buttons held and the modifier keys down.
    static constexpr unsigned MK_LBUTTON = 0x0001;
    static constexpr unsigned MK_RBUTTON = 0x0002;
    static constexpr unsigned MK_SHIFT = 0x0004;
    static constexpr unsigned MK_CONTROL = 0x0008;
    static constexpr unsigned MK_MBUTTON = 0x0010;

    unsigned Msg = 0;
    unsigned Keys = 0;
    std::int16_t XPos = 0;
    std::int16_t YPos = 0;
    long Result = 0;
};

// The message for `event`: its held buttons and modifiers as key flags and
// its position in the receiving widget's coordinates.
TWMMouse MouseMessage(unsigned msg, const QMouseEvent& event);

using TOnMouseEvent = std::function<void(const TWMMouse& Msg)>;

// The button's state and its rules are TImageButton's, which the Win32
// window's button shares; this side turns Qt's events into its notices and
// its answers into pictures, events and clicks.
class TImgBtn : public QWidget, private TImageButton {
    Q_OBJECT

public:
    explicit TImgBtn(QWidget* owner = nullptr);

    // The normal picture; setting it also shows it at once.
    void SetPic(const QPixmap& picture);
    // The pressed and the hover pictures; shown at the next matching change.
    void SetPicDown(const QPixmap& picture);
    void SetPicUp(const QPixmap& picture);

    const QPixmap& Pic() const { return pic_; }
    const QPixmap& PicDown() const { return picDown_; }
    const QPixmap& PicUp() const { return picUp_; }
    const QPixmap& Picture() const { return picture_; } // the one shown

    // While false the button switches no picture and raises none of its own
    // four events; it still clicks. True at first.
    using TImageButton::Supported;

    TOnMouseEvent OnMouseDown;
    TOnMouseEvent OnMouseEnter;
    TOnMouseEvent OnMouseLeave;
    TOnMouseEvent OnMouseUp;

signals:
    // A left press and release over the button.
    void clicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    friend struct TImgBtnProbe; // the tests read the private state

    void Show(const QPixmap& picture);
    // Shows the step's picture, then raises its event with `msg`.
    void Apply(const TButtonStep& step, const TWMMouse& msg = {});

    QPixmap pic_, picUp_, picDown_, picture_;
};
