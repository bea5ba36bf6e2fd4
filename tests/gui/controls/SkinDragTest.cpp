// Moving a borderless window by dragging it.
#include "DragWindow.h"
#include "ImgBtn.h"
#include "Skin.h"
#include "WindowSystem.h"

#include <QtTest>

class SkinDragTest : public QObject {
    Q_OBJECT

private slots:
    void dragState();
    void dragWithAnyButton_data();
    void dragWithAnyButton();
    void dragThroughWindowSystem_data();
    void dragThroughWindowSystem();
    void dragOffScreen();
    void noDragFromEnabledChild();
    void disabledPictureButtonStartsDrag();
    void ownMoveWhereProgramsPlaceWindows();
    void compositorAskedOncePerPress();
};

void SkinDragTest::dragState() {
    QWidget window;
    window.move(50, 60);
    TSkinDrag drag;
    QVERIFY(!drag.Dragging);
    drag.MouseMove(window, 100, 100); // not dragging: nothing happens
    QCOMPARE(window.pos(), QPoint(50, 60));
    drag.MouseDown(7, 9);
    QVERIFY(drag.Dragging);
    QCOMPARE(drag.DragX, 7);
    QCOMPARE(drag.DragY, 9);
    drag.MouseMove(window, 7, 9); // no threshold, and no displacement either
    QCOMPARE(window.pos(), QPoint(50, 60));
    drag.MouseMove(window, 8, 9);
    QCOMPARE(window.pos(), QPoint(51, 60));
    drag.MouseMove(window, 7, 19);
    QCOMPARE(window.pos(), QPoint(51, 70));
    drag.MouseUp();
    QVERIFY(!drag.Dragging);
    drag.MouseMove(window, 100, 100);
    QCOMPARE(window.pos(), QPoint(51, 70));
}

void SkinDragTest::dragWithAnyButton_data() {
    QTest::addColumn<Qt::MouseButton>("button");
    QTest::newRow("left") << Qt::LeftButton;
    QTest::newRow("right") << Qt::RightButton;
    QTest::newRow("middle") << Qt::MiddleButton;
}

void SkinDragTest::dragWithAnyButton() {
    QFETCH(Qt::MouseButton, button);
    DragWindow window;
    window.setGeometry(100, 120, 200, 150);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QPoint start = window.pos();

    QTest::mousePress(&window, button, {}, QPoint(10, 20));
    QVERIFY(window.drag.Dragging);
    QTest::mouseMove(&window, QPoint(40, 60));
    QCOMPARE(window.pos(), start + QPoint(30, 40));
    // The pointer is at (10, 20) of the moved window again when it stays
    // put; further moves go on from there.
    QTest::mouseMove(&window, QPoint(5, 27));
    QCOMPARE(window.pos(), start + QPoint(25, 47));
    QTest::mouseRelease(&window, button, {}, QPoint(10, 20));
    QVERIFY(!window.drag.Dragging);
    window.drag.MouseMove(window, 90, 90);
    QCOMPARE(window.pos(), start + QPoint(25, 47));
}

void SkinDragTest::dragThroughWindowSystem_data() {
    dragWithAnyButton_data();
}

// The same with the events coming in through the window system, as Qt hands
// a pointer press on the window to the widget under it.
void SkinDragTest::dragThroughWindowSystem() {
    QFETCH(Qt::MouseButton, button);
    DragWindow window;
    window.setGeometry(100, 120, 200, 150);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QWindow* handle = window.windowHandle();
    const QPoint start = window.pos();

    QTest::mousePress(handle, button, {}, QPoint(10, 20));
    QCOMPARE(window.presses, 1);
    QTest::mouseMove(handle, QPoint(13, 24));
    QCOMPARE(window.pos(), start + QPoint(3, 4));
    QTest::mouseRelease(handle, button, {}, QPoint(10, 20));
    QVERIFY(!window.drag.Dragging);
}

void SkinDragTest::dragOffScreen() {
    DragWindow window;
    window.setGeometry(20, 30, 200, 150);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QPoint start = window.pos();
    QTest::mousePress(&window, Qt::LeftButton, {}, QPoint(150, 140));
    QTest::mouseMove(&window, QPoint(10, 5));
    QCOMPARE(window.pos(), start + QPoint(-140, -135));
    QTest::mouseRelease(&window, Qt::LeftButton, {}, QPoint(150, 140));
}

void SkinDragTest::noDragFromEnabledChild() {
    DragWindow window;
    window.setGeometry(100, 120, 300, 200);
    TImgBtn button(&window);
    button.move(50, 50);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QPoint start = window.pos();

    for (Qt::MouseButton b : {Qt::LeftButton, Qt::RightButton, Qt::MiddleButton}) {
        QTest::mousePress(window.windowHandle(), b, {}, QPoint(60, 60));
        QTest::mouseMove(window.windowHandle(), QPoint(90, 100));
        QTest::mouseRelease(window.windowHandle(), b, {}, QPoint(90, 100));
        QCOMPARE(window.presses, 0);
        QVERIFY(!window.drag.Dragging);
        QCOMPARE(window.pos(), start);
    }
}

void SkinDragTest::disabledPictureButtonStartsDrag() {
    DragWindow window;
    window.setGeometry(100, 120, 300, 200);
    TImgBtn button(&window);
    button.move(50, 50);
    button.setEnabled(false);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QPoint start = window.pos();

    // Through the window system...
    QTest::mousePress(window.windowHandle(), Qt::LeftButton, {}, QPoint(60, 70));
    QCOMPARE(window.presses, 1);
    QVERIFY(window.drag.Dragging);
    QCOMPARE(window.drag.DragX, 60);
    QCOMPARE(window.drag.DragY, 70);
    QTest::mouseMove(window.windowHandle(), QPoint(80, 75));
    QCOMPARE(window.pos(), start + QPoint(20, 5));
    QTest::mouseRelease(window.windowHandle(), Qt::LeftButton, {}, QPoint(60, 70));
    QVERIFY(!window.drag.Dragging);

    // ...and straight at the button: the press goes on to the window, in
    // the window's coordinates.
    QTest::mousePress(&button, Qt::RightButton, {}, QPoint(5, 6));
    QCOMPARE(window.presses, 2);
    QVERIFY(window.drag.Dragging);
    QCOMPARE(window.drag.DragX, 55);
    QCOMPARE(window.drag.DragY, 56);
    QTest::mouseRelease(&button, Qt::RightButton, {}, QPoint(5, 6));
    QVERIFY(!window.drag.Dragging);
}

// The offscreen platform, like X11, lets programs place their windows: a
// drag moves the window itself and never asks for a compositor's move.
void SkinDragTest::ownMoveWhereProgramsPlaceWindows() {
    QVERIFY(!CompositorPlacesWindows());
    DragWindow window;
    QVERIFY(!window.drag.ByCompositor);
    window.setGeometry(100, 120, 200, 150);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QPoint start = window.pos();
    const TCompositorMoves before = CompositorMoves();
    QTest::mousePress(window.windowHandle(), Qt::LeftButton, {}, QPoint(10, 20));
    QTest::mouseMove(window.windowHandle(), QPoint(15, 22));
    QCOMPARE(window.pos(), start + QPoint(5, 2));
    QTest::mouseRelease(window.windowHandle(), Qt::LeftButton, {}, QPoint(10, 20));
    QCOMPARE(CompositorMoves().Asked, before.Asked);
}

// Where the compositor moves windows, a press asks it on its first move
// only: not on the press itself (a click stays a click), and not again on
// later moves of the same press. Offscreen has no compositor's move: the
// refusal leaves the press to the window's own move.
void SkinDragTest::compositorAskedOncePerPress() {
    DragWindow window;
    window.drag.ByCompositor = true;
    window.setGeometry(100, 120, 200, 150);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QWindow* handle = window.windowHandle();
    const int asked = CompositorMoves().Asked;
    QTest::mousePress(handle, Qt::LeftButton, {}, QPoint(10, 20));
    QTest::mouseRelease(handle, Qt::LeftButton, {}, QPoint(10, 20));
    QCOMPARE(CompositorMoves().Asked, asked);

    for (Qt::MouseButton button : {Qt::LeftButton, Qt::RightButton}) {
        const TCompositorMoves before = CompositorMoves();
        const QPoint start = window.pos();
        QTest::mousePress(handle, button, {}, QPoint(10, 20));
        QCOMPARE(CompositorMoves().Asked, before.Asked);
        QTest::mouseMove(handle, QPoint(13, 24));
        QCOMPARE(CompositorMoves().Asked, before.Asked + 1);
        QCOMPARE(CompositorMoves().Accepted, before.Accepted);
        QCOMPARE(window.pos(), start + QPoint(3, 4));
        QTest::mouseMove(handle, QPoint(5, 27));
        QCOMPARE(window.pos(), start + QPoint(-2, 11));
        QCOMPARE(CompositorMoves().Asked, before.Asked + 1);
        QTest::mouseRelease(handle, button, {}, QPoint(10, 20));
        QVERIFY(!window.drag.Dragging);
    }

    // A window not yet made on the platform has nothing to ask a move for;
    // its own move goes left edge first, then top edge, as always.
    QWidget plain;
    plain.move(50, 60);
    TSkinDrag drag;
    drag.ByCompositor = true;
    drag.MouseDown(7, 9);
    drag.MouseMove(plain, 8, 19);
    QCOMPARE(plain.pos(), QPoint(51, 70));
    QCOMPARE(CompositorMoves().Asked, asked + 2);
}

int RunSkinDragTests(const QStringList& args) {
    SkinDragTest test;
    return QTest::qExec(&test, args);
}

#include "SkinDragTest.moc"
