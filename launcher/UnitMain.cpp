#include "UnitMain.h"

#include "Desktop.h"
#include "Files.h"
#include "Process.h"
#include "Profile.h"
#include "Text.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QMouseEvent>
#include <QTimer>

#include <filesystem>

namespace {

const char* const kSettingsFileName = "Quenmor.ini";
const char* const kMissingSettings = "ОШИБКА: Quenmor.ini не найден !";

// The keys of section "main" with their defaults, in the order of the entries.
struct Key {
    const char* name;
    const char* fallback;
};
const Key kKeys[] = {
    {"NewsUrl", ""},
    {"UpdatesUrl", ""},
    {"LinkName", "Quenmor"},
    {"Installed", "0"},
    {"CreateBackup", "0"},
    {"AtRevision", "0"},
    {"RunCustom", "system\\zentyr.exe"},
};

// The icon file for the shortcut, written from the program's own picture.
std::string ShortcutIcon() {
    const std::string folder = platform::IconsFolder() + "/hicolor/256x256/apps";
    const std::string path = folder + "/quenmor-launcher.png";
    const QImage icon(QStringLiteral(":/icon.png"));
    if (icon.isNull() || !QDir().mkpath(QString::fromStdString(folder)))
        return {};
    if (!QFile::exists(QString::fromStdString(path)))
        icon.save(QString::fromStdString(path), "PNG");
    return path;
}

void ShowMessageBox(const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, QApplication::applicationDisplayName(), text,
                    QMessageBox::Ok);
    box.exec();
}

} // namespace

void CreateDesktopShortcut(const std::string& LinkName, const std::string& WorkingFolder,
                           const std::string& Description) {
    if (LinkName.empty())
        return;
    // The name is a file name: a separator in it must not lead elsewhere.
    std::string fileName = LinkName;
    for (char& c : fileName)
        if (c == '/')
            c = '_';
    platform::DesktopEntry entry;
    entry.name = LinkName;
    entry.comment = Description;
    entry.program = platform::ExecutablePath();
    entry.folder = WorkingFolder;
    entry.icon = ShortcutIcon();
    platform::WriteDesktopEntry(platform::DesktopFolder(), fileName, entry);
    // Several desktops show no icons on the desktop: the menu has it too.
    platform::WriteDesktopEntry(platform::ApplicationsFolder(), fileName, entry);
}

TFMain::TFMain(QWidget* parent) : QWidget(parent, Qt::Window | Qt::FramelessWindowHint) {
    setObjectName(QStringLiteral("FMain"));
    setWindowTitle(QStringLiteral("FormMain"));
    setFixedSize(800, 599);
    Image1 = QImage(QStringLiteral(":/main_skin.bmp"));
    ShowMessage = &ShowMessageBox;
}

std::string TFMain::SettingsFile() const {
    return baseFolder_ + kSettingsFileName;
}

bool TFMain::LoadSettings() {
    LauncherSettings.clear();
    baseFolder_ = platform::CurrentFolder();
    LauncherSettings.push_back(baseFolder_);
    std::error_code error;
    if (!std::filesystem::is_regular_file(SettingsFile(), error))
        return false;
    for (const Key& key : kKeys)
        LauncherSettings.push_back(platform::SettingsTextToUtf8(
            platform::GetProfileString(SettingsFile(), "main", key.name, key.fallback)));
    return true;
}

void TFMain::FormCreate() {
    const bool found = LoadSettings();
    if (found && LauncherSettings[Installed] == "0") {
        // The flag goes first, so the shortcut is tried once per installation.
        platform::WriteProfileString(SettingsFile(), "main", "Installed", "1");
        CreateDesktopShortcut(LauncherSettings[LinkName], LauncherSettings[BaseFolder], "Quenmor");
    }
    if (!found) {
        Terminating = true;
        ShowMessage(QString::fromUtf8(kMissingSettings));
        QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    }
    ApplySkin(*this, Image1);
}

void TFMain::UpdateRevision(const std::string& Revision) {
    platform::WriteProfileString(SettingsFile(), "main", "AtRevision", Revision);
}

void TFMain::FormClose() {
    LauncherSettings.clear();
}

void TFMain::closeEvent(QCloseEvent* event) {
    FormClose();
    event->accept();
}

void TFMain::mousePressEvent(QMouseEvent* event) {
    drag_.MouseDown(event->position().toPoint().x(), event->position().toPoint().y());
}

void TFMain::mouseMoveEvent(QMouseEvent* event) {
    drag_.MouseMove(*this, event->position().toPoint().x(), event->position().toPoint().y());
}

void TFMain::mouseReleaseEvent(QMouseEvent*) {
    drag_.MouseUp();
}
