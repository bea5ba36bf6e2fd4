// The picture button: which picture it shows, its four events and its clicks.
#include "ImgBtn.h"
#include "TestImages.h"

#include <QEnterEvent>
#include <QMouseEvent>
#include <QPointer>
#include <QSignalSpy>
#include <QtTest>

#include <memory>
#include <vector>

using namespace testimages;

// Reads the button's private state.
struct TImgBtnProbe {
    static bool MouseInside(const TImgBtn& b) { return b.MouseInside; }
    static bool Pressed(const TImgBtn& b) { return b.Pressed; }
};

namespace {

const QColor PicColour(200, 0, 0), UpColour(0, 200, 0), DownColour(0, 0, 200);

// Which of its pictures the button shows.
QString Shown(const TImgBtn& b) {
    if (b.Picture().isNull())
        return QStringLiteral("none");
    const qint64 key = b.Picture().cacheKey();
    if (key == b.PicDown().cacheKey())
        return QStringLiteral("PicDown");
    if (key == b.PicUp().cacheKey())
        return QStringLiteral("PicUp");
    if (key == b.Pic().cacheKey())
        return QStringLiteral("Pic");
    return QStringLiteral("other");
}

struct Event {
    QString name;
    TWMMouse msg;
};

// A window with a picture button at (50, 50) that records what happens.
struct Host : QWidget {
    Host() {
        setWindowFlags(Qt::FramelessWindowHint);
        setGeometry(100, 100, 300, 250);
        button = new TImgBtn(this);
        button->move(50, 50);
        button->SetPic(Solid(PicColour));
        button->SetPicUp(Solid(UpColour));
        button->SetPicDown(Solid(DownColour));
        auto record = [this](const char* name) {
            return [this, name](const TWMMouse& m) {
                events.push_back({QString::fromLatin1(name), m});
            };
        };
        button->OnMouseEnter = record("enter");
        button->OnMouseLeave = record("leave");
        button->OnMouseDown = record("down");
        button->OnMouseUp = record("up");
        QObject::connect(button, &TImgBtn::clicked, this, [this] {
            ++clicks;
            shownAtClick = Shown(*button);
        });
    }

    QStringList Names() const {
        QStringList names;
        for (const Event& e : events)
            names << e.name;
        return names;
    }

    TImgBtn* button = nullptr;
    std::vector<Event> events;
    int clicks = 0;
    QString shownAtClick;
    int presses = 0; // presses that reached the window

protected:
    void mousePressEvent(QMouseEvent* /*event*/) override { ++presses; }
};

// Notices handed straight to the button, as the window system's would come.
void Enter(TImgBtn& b, QPoint p = QPoint(5, 5)) {
    QEnterEvent e(p, b.mapTo(b.window(), p), b.mapToGlobal(p));
    QCoreApplication::sendEvent(&b, &e);
}

void Leave(TImgBtn& b) {
    QEvent e(QEvent::Leave);
    QCoreApplication::sendEvent(&b, &e);
}

bool IsZero(const TWMMouse& m) {
    return m.Msg == 0 && m.Keys == 0 && m.XPos == 0 && m.YPos == 0 && m.Result == 0;
}

} // namespace

class ImgBtnTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void freshButton();
    void settingPicturesAtRunTime();
    void paintsShownPicture();
    void hover();
    void pressMoveOffAndBackRelease();
    void pressMoveOffReleaseOutside();
    void clickHandlerSeesPressedPicture();
    void pressOutsideTheHoverState();
    void notSupported();
    void disabledButton();
    void onlyLeftButtonCounts();
    void doubleClickGivesOneClick();
    void emptyHoverAndPressedPictures();
    void mouseMessages();
    void clickHandlerMayDeleteButton();

    // The same through the window system: Qt's own enter, leave, grab and
    // double-click handling in front of the button.
    void windowSystemPressMoveOffAndBack();
    void windowSystemReleaseOutside();
    void windowSystemDoubleClick();
    void windowSystemDisabledButton();

private:
    std::unique_ptr<Host> host_;
};

void ImgBtnTest::init() {
    host_ = std::make_unique<Host>();
    host_->show();
    QVERIFY(QTest::qWaitForWindowExposed(host_.get()));
    // Put the pointer on the window, off the button. Qt drops a move to
    // where the pointer already is, so two moves make sure one arrives.
    QTest::mouseMove(host_->windowHandle(), QPoint(1, 1));
    QTest::mouseMove(host_->windowHandle(), QPoint(2, 2));
}

void ImgBtnTest::cleanup() {
    host_.reset();
}

void ImgBtnTest::freshButton() {
    TImgBtn b;
    QCOMPARE(b.size(), QSize(105, 105));
    QCOMPARE(b.focusPolicy(), Qt::NoFocus);
    QVERIFY(b.Supported);
    QVERIFY(!TImgBtnProbe::MouseInside(b));
    QVERIFY(!TImgBtnProbe::Pressed(b));
    QVERIFY(b.Picture().isNull());
    QVERIFY(!b.OnMouseDown && !b.OnMouseEnter && !b.OnMouseLeave && !b.OnMouseUp);
}

void ImgBtnTest::settingPicturesAtRunTime() {
    TImgBtn& b = *host_->button;
    QCOMPARE(Shown(b), "Pic");
    b.SetPicUp(Solid(Qt::yellow));
    b.SetPicDown(Solid(Qt::cyan));
    QCOMPARE(Shown(b), "Pic"); // only the normal picture shows at once
    Enter(b);
    QCOMPARE(Shown(b), "PicUp");
    const QPixmap other = Solid(Qt::magenta);
    b.SetPic(other);
    QCOMPARE(b.Picture().cacheKey(), other.cacheKey()); // shown at once, also while hovering
    Leave(b);
    QCOMPARE(b.Picture().cacheKey(), other.cacheKey());
}

void ImgBtnTest::paintsShownPicture() {
    TImgBtn& b = *host_->button;
    auto colour = [&b] { return QColor(b.grab().toImage().pixel(3, 3)); };
    QCOMPARE(colour(), PicColour);
    Enter(b);
    QCOMPARE(colour(), UpColour);
    QTest::mousePress(&b, Qt::LeftButton, {}, QPoint(5, 5));
    QCOMPARE(colour(), DownColour);
    QTest::mouseRelease(&b, Qt::LeftButton, {}, QPoint(5, 5));
    QCOMPARE(colour(), UpColour);
}

void ImgBtnTest::hover() {
    TImgBtn& b = *host_->button;
    Enter(b);
    QCOMPARE(Shown(b), "PicUp");
    QVERIFY(TImgBtnProbe::MouseInside(b));
    Leave(b);
    QCOMPARE(Shown(b), "Pic");
    QVERIFY(!TImgBtnProbe::MouseInside(b));
    QCOMPARE(host_->Names(), QStringList({"enter", "leave"}));
    for (const Event& e : host_->events)
        QVERIFY2(IsZero(e.msg), qPrintable(e.name));
}

void ImgBtnTest::pressMoveOffAndBackRelease() {
    TImgBtn& b = *host_->button;
    Enter(b);
    QTest::mousePress(&b, Qt::LeftButton, {}, QPoint(10, 12));
    QCOMPARE(Shown(b), "PicDown");
    QVERIFY(TImgBtnProbe::Pressed(b));
    // Held down and moved off: the button is told it was left.
    QTest::mouseMove(&b, QPoint(-20, 12));
    QCOMPARE(Shown(b), "Pic");
    QVERIFY(!TImgBtnProbe::MouseInside(b));
    QTest::mouseMove(&b, QPoint(110, 40));
    QCOMPARE(Shown(b), "Pic");
    // ...and back on it.
    QTest::mouseMove(&b, QPoint(20, 30));
    QCOMPARE(Shown(b), "PicDown");
    QCOMPARE(host_->clicks, 0);
    QTest::mouseRelease(&b, Qt::LeftButton, {}, QPoint(20, 30));
    QCOMPARE(host_->clicks, 1);
    QCOMPARE(Shown(b), "PicUp");
    QVERIFY(!TImgBtnProbe::Pressed(b));
    QCOMPARE(host_->Names(), QStringList({"enter", "down", "leave", "enter", "up"}));
}

void ImgBtnTest::pressMoveOffReleaseOutside() {
    TImgBtn& b = *host_->button;
    Enter(b);
    QTest::mousePress(&b, Qt::LeftButton, {}, QPoint(10, 10));
    QTest::mouseMove(&b, QPoint(10, 200));
    QCOMPARE(Shown(b), "Pic");
    QTest::mouseRelease(&b, Qt::LeftButton, {}, QPoint(10, 200));
    QCOMPARE(host_->clicks, 0);
    QCOMPARE(Shown(b), "Pic");
    QVERIFY(!TImgBtnProbe::Pressed(b));
    // Qt tells the button it was left once the button is up; it knew already.
    Leave(b);
    QCOMPARE(host_->Names(), QStringList({"enter", "down", "leave", "up"}));
    // Nothing left of the press: coming back shows the hover picture.
    Enter(b);
    QCOMPARE(Shown(b), "PicUp");
}

void ImgBtnTest::clickHandlerSeesPressedPicture() {
    TImgBtn& b = *host_->button;
    Enter(b);
    QTest::mouseClick(&b, Qt::LeftButton, {}, QPoint(4, 4));
    QCOMPARE(host_->clicks, 1);
    QCOMPARE(host_->shownAtClick, "PicDown");
    QCOMPARE(Shown(b), "PicUp");
}

// A press without an enter notice before it (the pointer was already over
// the button when it appeared): pressed, but no picture change until it
// enters.
void ImgBtnTest::pressOutsideTheHoverState() {
    TImgBtn& b = *host_->button;
    QTest::mousePress(&b, Qt::LeftButton, {}, QPoint(4, 4));
    QVERIFY(TImgBtnProbe::Pressed(b));
    QCOMPARE(Shown(b), "Pic");
    Enter(b);
    QCOMPARE(Shown(b), "PicDown");
    QTest::mouseRelease(&b, Qt::LeftButton, {}, QPoint(4, 4));
    QCOMPARE(host_->clicks, 1);
    QCOMPARE(Shown(b), "PicUp");
}

void ImgBtnTest::notSupported() {
    TImgBtn& b = *host_->button;
    b.Supported = false;
    Enter(b);
    QCOMPARE(Shown(b), "Pic");
    QTest::mousePress(&b, Qt::LeftButton, {}, QPoint(4, 4));
    QCOMPARE(Shown(b), "Pic");
    QTest::mouseMove(&b, QPoint(-4, 4));
    QTest::mouseMove(&b, QPoint(4, 4));
    QCOMPARE(Shown(b), "Pic");
    QTest::mouseRelease(&b, Qt::LeftButton, {}, QPoint(4, 4));
    QCOMPARE(host_->clicks, 1); // still clicks
    Leave(b);
    QCOMPARE(Shown(b), "Pic");
    QVERIFY(host_->events.empty());
    QVERIFY(!TImgBtnProbe::MouseInside(b));
    QVERIFY(!TImgBtnProbe::Pressed(b));
}

void ImgBtnTest::disabledButton() {
    TImgBtn& b = *host_->button;
    b.setEnabled(false);
    Enter(b);
    QCOMPARE(Shown(b), "PicUp");
    // Presses go on to the window; no click, no pressed picture.
    QTest::mousePress(&b, Qt::LeftButton, {}, QPoint(4, 4));
    QCOMPARE(host_->presses, 1);
    QCOMPARE(Shown(b), "PicUp");
    QTest::mouseRelease(&b, Qt::LeftButton, {}, QPoint(4, 4));
    QCOMPARE(host_->clicks, 0);
    Leave(b);
    QCOMPARE(Shown(b), "Pic");
    QCOMPARE(host_->Names(), QStringList({"enter", "leave"}));
}

void ImgBtnTest::onlyLeftButtonCounts() {
    TImgBtn& b = *host_->button;
    Enter(b);
    for (Qt::MouseButton button : {Qt::RightButton, Qt::MiddleButton}) {
        QTest::mousePress(&b, button, {}, QPoint(4, 4));
        QCOMPARE(Shown(b), "PicUp");
        QVERIFY(!TImgBtnProbe::Pressed(b));
        QTest::mouseRelease(&b, button, {}, QPoint(4, 4));
    }
    QCOMPARE(host_->clicks, 0);
    QCOMPARE(host_->presses, 0); // kept by the button all the same
    QCOMPARE(host_->Names(), QStringList({"enter"}));
}

void ImgBtnTest::doubleClickGivesOneClick() {
    TImgBtn& b = *host_->button;
    Enter(b);
    QTest::mousePress(&b, Qt::LeftButton, {}, QPoint(4, 4));
    QTest::mouseRelease(&b, Qt::LeftButton, {}, QPoint(4, 4));
    QCOMPARE(host_->clicks, 1);
    QTest::mouseDClick(&b, Qt::LeftButton, {}, QPoint(4, 4)); // the second press
    QCOMPARE(Shown(b), "PicUp");
    QTest::mouseRelease(&b, Qt::LeftButton, {}, QPoint(4, 4));
    QCOMPARE(host_->clicks, 1);
    QCOMPARE(Shown(b), "PicUp");
    QCOMPARE(host_->Names(), QStringList({"enter", "down", "up", "up"}));
}

void ImgBtnTest::emptyHoverAndPressedPictures() {
    TImgBtn& b = *host_->button;
    b.SetPicUp(QPixmap());
    b.SetPicDown(QPixmap());
    Enter(b);
    QCOMPARE(Shown(b), "none");
    QTest::mousePress(&b, Qt::LeftButton, {}, QPoint(4, 4));
    QCOMPARE(Shown(b), "none");
    // Nothing of the button painted: the window's background shows.
    const QColor background = host_->palette().color(QPalette::Window);
    QCOMPARE(QColor(host_->grab().toImage().pixel(60, 60)), background);
    QTest::mouseRelease(&b, Qt::LeftButton, {}, QPoint(4, 4));
    Leave(b);
    QCOMPARE(Shown(b), "Pic");
}

void ImgBtnTest::mouseMessages() {
    TImgBtn& b = *host_->button;
    Enter(b);
    QTest::mousePress(&b, Qt::LeftButton, Qt::ShiftModifier, QPoint(7, 9));
    QTest::mouseRelease(&b, Qt::LeftButton, Qt::ControlModifier, QPoint(-3, 120));
    QCOMPARE(host_->Names(), QStringList({"enter", "down", "up"}));
    const TWMMouse& down = host_->events[1].msg;
    QCOMPARE(down.Msg, 0x0201u);
    QCOMPARE(down.Keys, 1u | 4u); // MK_LBUTTON | MK_SHIFT
    QCOMPARE(down.XPos, 7);
    QCOMPARE(down.YPos, 9);
    const TWMMouse& up = host_->events[2].msg;
    QCOMPARE(up.Msg, 0x0202u);
    QCOMPARE(up.Keys, 8u); // MK_CONTROL; the left button is up by now
    QCOMPARE(up.XPos, -3);
    QCOMPARE(up.YPos, 120);

    const QMouseEvent all(QEvent::MouseMove, QPointF(70000, -2), QPointF(), Qt::NoButton,
                          Qt::LeftButton | Qt::RightButton | Qt::MiddleButton,
                          Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
    const TWMMouse m = MouseMessage(5, all);
    QCOMPARE(m.Msg, 5u);
    QCOMPARE(m.Keys, 1u | 2u | 4u | 8u | 16u);
    QCOMPARE(m.XPos, std::int16_t(70000 - 65536)); // the low 16 bits, as Windows passes them
    QCOMPARE(m.YPos, -2);
}

void ImgBtnTest::clickHandlerMayDeleteButton() {
    QPointer<TImgBtn> b = host_->button;
    QObject::connect(b, &TImgBtn::clicked, b, [&b] { delete b.data(); });
    Enter(*b);
    QTest::mousePress(b, Qt::LeftButton, {}, QPoint(4, 4));
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(4, 4), b->mapToGlobal(QPointF(4, 4)),
                        Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(b, &release);
    QVERIFY(b.isNull());
    QCOMPARE(host_->clicks, 1);
    QCOMPARE(host_->Names(), QStringList({"enter", "down"}));
    host_->button = nullptr;
    QTest::mouseRelease(host_.get(), Qt::LeftButton); // balance QTest's idea of the buttons
}

void ImgBtnTest::windowSystemPressMoveOffAndBack() {
    QWindow* w = host_->windowHandle();
    TImgBtn& b = *host_->button;
    QTest::mouseMove(w, QPoint(20, 20));
    QTest::mouseMove(w, QPoint(60, 70));
    QCOMPARE(Shown(b), "PicUp");
    QTest::mousePress(w, Qt::LeftButton, {}, QPoint(60, 70));
    QCOMPARE(Shown(b), "PicDown");
    QTest::mouseMove(w, QPoint(20, 70));
    QCOMPARE(Shown(b), "Pic");
    QTest::mouseMove(w, QPoint(70, 80));
    QCOMPARE(Shown(b), "PicDown");
    QTest::mouseRelease(w, Qt::LeftButton, {}, QPoint(70, 80));
    QCOMPARE(host_->clicks, 1);
    QCOMPARE(host_->shownAtClick, "PicDown");
    QCOMPARE(Shown(b), "PicUp");
    QCOMPARE(host_->Names(), QStringList({"enter", "down", "leave", "enter", "up"}));
    QCOMPARE(host_->events[1].msg.XPos, 10); // in the button's coordinates
    QCOMPARE(host_->events[1].msg.YPos, 20);
    QTest::mouseMove(w, QPoint(20, 20));
    QCOMPARE(Shown(b), "Pic");
    QCOMPARE(host_->Names().size(), 6);
}

void ImgBtnTest::windowSystemReleaseOutside() {
    QWindow* w = host_->windowHandle();
    TImgBtn& b = *host_->button;
    QTest::mouseMove(w, QPoint(20, 20));
    QTest::mouseMove(w, QPoint(60, 70));
    QTest::mousePress(w, Qt::LeftButton, {}, QPoint(60, 70));
    QTest::mouseMove(w, QPoint(20, 200));
    QCOMPARE(Shown(b), "Pic");
    QTest::mouseRelease(w, Qt::LeftButton, {}, QPoint(20, 200));
    QCOMPARE(host_->clicks, 0);
    QCOMPARE(Shown(b), "Pic");
    QVERIFY(!TImgBtnProbe::Pressed(b));
    QVERIFY(!TImgBtnProbe::MouseInside(b));
    QCOMPARE(host_->Names(), QStringList({"enter", "down", "leave", "up"}));
    QTest::mouseMove(w, QPoint(60, 70));
    QCOMPARE(Shown(b), "PicUp");
}

void ImgBtnTest::windowSystemDoubleClick() {
    QWindow* w = host_->windowHandle();
    TImgBtn& b = *host_->button;
    QTest::mouseMove(w, QPoint(20, 20));
    QTest::mouseMove(w, QPoint(60, 70));
    QTest::mouseDClick(w, Qt::LeftButton, {}, QPoint(60, 70));
    QCOMPARE(host_->clicks, 1);
    QCOMPARE(Shown(b), "PicUp");
    QCOMPARE(host_->Names(), QStringList({"enter", "down", "up", "up"}));
}

void ImgBtnTest::windowSystemDisabledButton() {
    QWindow* w = host_->windowHandle();
    TImgBtn& b = *host_->button;
    b.setEnabled(false);
    QTest::mouseMove(w, QPoint(20, 20));
    QTest::mouseMove(w, QPoint(60, 70));
    QCOMPARE(Shown(b), "PicUp");
    QTest::mouseClick(w, Qt::LeftButton, {}, QPoint(60, 70));
    QCOMPARE(host_->clicks, 0);
    QCOMPARE(host_->presses, 1);
    QCOMPARE(Shown(b), "PicUp");
    QTest::mouseMove(w, QPoint(20, 20));
    QCOMPARE(Shown(b), "Pic");
}

int RunImgBtnTests(const QStringList& args) {
    ImgBtnTest test;
    return QTest::qExec(&test, args);
}

#include "ImgBtnTest.moc"
