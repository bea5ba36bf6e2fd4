// The game options dialog: a few display and party settings of the game
// client's system/option.ini and the launcher's backup switch. It is a
// skinned, borderless window of the main window; while it is open the main
// window is disabled.
#pragma once

#include "GameOptions.h"
#include "Skin.h"

#include <QImage>
#include <QPointer>
#include <QWidget>

#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QStyle;

class TForm1 : public QWidget {
    Q_OBJECT

public:
    // Creates the controls; the dialog stays hidden until Open. `mainWindow`
    // (may be null) is disabled while the dialog is open and owns it;
    // `launcherSettings` is the main window's settings list, whose entry 5
    // (CreateBackup, "1" or "0") the dialog reads and replaces.
    TForm1(QWidget* mainWindow, std::vector<std::string>& launcherSettings);
    ~TForm1() override;

    // Skins the window and loads the controls from option.ini and the
    // settings list, once per run. Raises EConvertError when a switch of
    // option.ini holds no Boolean; the controls after it keep their state.
    void FormCreate();

    // Disables the main window and shows the dialog, centred over the main
    // window the first time, otherwise where it was last.
    void Open();

    // Accept: stores the choices (only when option.ini exists), then closes.
    // Raises EInOutError when a file cannot be written; the dialog then stays
    // open.
    void SpeedButton1Click();
    // Cancel: closes without storing anything; the choices stay in the controls.
    void SpeedButton2Click();
    // Opens the folder of the launcher's log, where a failed update run
    // tells why it failed.
    void SpeedButton3Click();

    void FormMouseDown(int x, int y);
    void FormMouseMove(int x, int y);
    void FormMouseUp();

    // The path of the game's option file, as of now.
    static std::string OptionFile();

    QImage Image1; // the skin
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* Label5 = nullptr;
    QLabel* Label6 = nullptr;
    QComboBox* ComboBox1 = nullptr;      // resolution
    QComboBox* ComboBox2 = nullptr;      // colour depth
    QComboBox* ComboBox3 = nullptr;      // refresh rate
    QComboBox* ComboBox4 = nullptr;      // party looting
    QCheckBox* CheckBox1 = nullptr;      // keep the minimum frame rate
    QCheckBox* CheckBox2 = nullptr;      // full screen
    QCheckBox* CheckBox3 = nullptr;      // backups of replaced files
    QPushButton* SpeedButton1 = nullptr; // Accept
    QPushButton* SpeedButton2 = nullptr; // Cancel
    QPushButton* SpeedButton3 = nullptr; // the log's folder, a small link

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void CloseDialog();
    void LoadOptions(const std::string& file);
    // The controls' choices, and the controls set to `options`.
    TGameOptions Choices() const;
    void ShowChoices(const TGameOptions& options);

    QPointer<QWidget> MainWindow;
    std::vector<std::string>& LauncherSettings;
    TSkinDrag Drag;
    QStyle* CheckStyle = nullptr; // draws the check boxes' boxes and the lists' arrows
    bool Placed = false;          // shown before: keeps its own position
};
