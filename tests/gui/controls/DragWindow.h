// A borderless window moved by dragging its own surface, the way the
// launcher's windows do it.
#pragma once

#include "Skin.h"

#include <QMouseEvent>
#include <QWidget>

class DragWindow : public QWidget {
public:
    explicit DragWindow(QWidget* parent = nullptr) : QWidget(parent) {
        setWindowFlags(Qt::FramelessWindowHint);
    }

    TSkinDrag drag;
    int presses = 0;
    QPoint lastPress;

protected:
    void mousePressEvent(QMouseEvent* event) override {
        ++presses;
        lastPress = event->position().toPoint();
        drag.MouseDown(lastPress.x(), lastPress.y());
    }
    void mouseMoveEvent(QMouseEvent* event) override {
        const QPoint p = event->position().toPoint();
        drag.MouseMove(*this, p.x(), p.y());
    }
    void mouseReleaseEvent(QMouseEvent* /*event*/) override { drag.MouseUp(); }
};
