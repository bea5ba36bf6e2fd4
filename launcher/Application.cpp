#include "Application.h"

#include "Messages.h"
#include "Process.h"

#include <QLoggingCategory>
#include <QMessageBox>

namespace {

// What must be settled before the application object exists: the news
// browser shares its drawing contexts with the windows, and its sandbox
// refuses to run with the administrator's rights, where it is left off.
int& BeforeApplication(int& argc) {
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    if (platform::RunningAsAdministrator() &&
        !qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    // The news page is drawn in software into the window like any other
    // control. Drawn through OpenGL, the whole window would be composited at
    // every redraw of a label or gauge: most of a core during an update run
    // where the system renders OpenGL in software (virtual machines, remote
    // desktops), and a common source of blank pages with some drivers.
    // QT_QUICK_BACKEND set by the user still decides.
    if (!qEnvironmentVariableIsSet("QT_QUICK_BACKEND"))
        qputenv("QT_QUICK_BACKEND", "software");
    // The browser's start-up report is for its developers, not for players.
    QLoggingCategory::setFilterRules(QStringLiteral("qt.webenginecontext.info=false"));
    return argc;
}

void ShowErrorBox(const QString& text) {
    QMessageBox::critical(nullptr, QApplication::applicationDisplayName(), text);
}

} // namespace

std::function<void(const QString& text)> PresentError = &ShowErrorBox;

TApplication::TApplication(int& argc, char** argv) : QApplication(BeforeApplication(argc), argv) {
    setApplicationName(QString::fromUtf8(kApplicationTitle));
    setApplicationDisplayName(QString::fromUtf8(kApplicationTitle));
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        ShowException(error);
    } catch (...) {
        ShowException(std::runtime_error("Unknown error"));
    }
    return false;
}

void ShowException(const std::exception& error) {
    PresentError(QString::fromStdString(ReportError(error)));
}

void Guarded(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::exception& error) {
        ShowException(error);
    }
}
