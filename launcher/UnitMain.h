// The launcher's main window: start-up, settings, the first-run shortcut and
// the record of the reached revision.
#pragma once

#include "Skin.h"

#include <QImage>
#include <QWidget>

#include <functional>
#include <string>
#include <vector>

// The launcher settings in memory: entry 0 the base folder (ending with the
// separator), then the keys of section "main" of "Quenmor.ini" in this order.
using TLauncherSettings = std::vector<std::string>;
enum TSetting : std::size_t {
    BaseFolder = 0,
    NewsUrl = 1,
    UpdatesUrl = 2,
    LinkName = 3,
    Installed = 4,
    CreateBackup = 5,
    AtRevision = 6,
    RunCustom = 7,
};

// Writes the shortcut that starts this launcher in `WorkingFolder`: a desktop
// entry named `LinkName` on the desktop and in the applications menu. An
// empty name makes none.
void CreateDesktopShortcut(const std::string& LinkName, const std::string& WorkingFolder,
                           const std::string& Description);

class TFMain : public QWidget {
    Q_OBJECT

public:
    explicit TFMain(QWidget* parent = nullptr);

    // The creation handler: loads the settings, makes the shortcut on the
    // first start, shapes the window. Raises what a refused write raises.
    void FormCreate();
    bool LoadSettings();
    // Records the revision an update run reached.
    void UpdateRevision(const std::string& Revision);
    void FormClose();

    TLauncherSettings LauncherSettings;
    QImage Image1; // the skin

    // The settings file was missing: the program ends once start-up is over.
    bool Terminating = false;
    // How the missing-file message is shown (a modal box; tests replace it).
    std::function<void(const QString& text)> ShowMessage;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    std::string SettingsFile() const;

    TSkinDrag drag_;
    std::string baseFolder_; // kept for revisions recorded after FormClose
};
