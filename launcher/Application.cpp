#include "Application.h"

#include <QMessageBox>

namespace {

void ShowErrorBox(const QString& text) {
    QMessageBox::critical(nullptr, QApplication::applicationDisplayName(), text);
}

} // namespace

std::function<void(const QString& text)> PresentError = &ShowErrorBox;

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QStringLiteral("Quenmor"));
    setApplicationDisplayName(QStringLiteral("Quenmor"));
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

QString ErrorBoxText(const std::string& message) {
    QString text = QString::fromStdString(message);
    if (!text.isEmpty() && text.back() > QChar('.'))
        text += QChar('.');
    return text;
}

void ShowException(const std::exception& error) {
    PresentError(ErrorBoxText(error.what()));
}

void Guarded(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::exception& error) {
        ShowException(error);
    }
}
