// The application object and its central error handler: an error that leaves
// an event handler is shown in an error box titled "Quenmor", written into the
// launcher's log, and the program goes on.
#pragma once

#include "LauncherLog.h"

#include <QApplication>
#include <QString>

#include <exception>
#include <functional>
#include <string>

class TApplication : public QApplication {
public:
    TApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

// Shows an error the way the central handler does. Tests may replace how it
// is presented.
void ShowException(const std::exception& error);
extern std::function<void(const QString& text)> PresentError;

// Runs `handler` as an event handler runs: what it raises is shown and the
// rest of it is skipped.
void Guarded(const std::function<void()>& handler);
