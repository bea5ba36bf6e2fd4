// The game options dialog in Win32: a skinned, borderless window of the main
// window with the standard controls (drop-down lists, check boxes, flat
// buttons) over the core's game options; while it is open the main window
// is disabled.
#pragma once

#include "GameOptions.h"
#include "LauncherSettings.h"
#include "Pictures.h"
#include "Skin.h"

#include <windows.h>

#include <string>

class TForm1 {
public:
    // `launcherSettings` is the main window's settings list, whose backup
    // switch the dialog reads and replaces.
    TForm1(HWND mainWindow, TLauncherSettings& launcherSettings);
    ~TForm1();
    TForm1(const TForm1&) = delete;
    TForm1& operator=(const TForm1&) = delete;

    // Makes the window and its controls, hidden.
    void Create(HINSTANCE instance);
    HWND Handle() const { return hwnd_; }

    // Skins the window and loads the controls from option.ini and the
    // settings list, once per run. Raises EConvertError when a switch of
    // option.ini holds no Boolean; the controls after it keep their state.
    void FormCreate();
    // Disables the main window and shows the dialog, centred over the main
    // window the first time, otherwise where it was last.
    void Open();
    // Accept: stores the choices (only when option.ini exists), then closes.
    void SpeedButton1Click();
    // Cancel: closes without storing anything.
    void SpeedButton2Click();
    // Opens the folder of the launcher's log, where a failed update run
    // tells why it failed.
    void SpeedButton3Click();

    // The keyboard of the dialog's controls (tabbing), from the program's
    // message loop: whether it took `message`.
    bool PreTranslate(MSG& message);

    // The path of the game's option file, as of now.
    static std::string OptionFile();

private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    LRESULT Handle(UINT msg, WPARAM wParam, LPARAM lParam);
    void CreateControls();
    void Paint(HDC dc);
    void DrawButton(const DRAWITEMSTRUCT& item);
    void CloseDialog();
    TGameOptions Choices() const;
    void ShowChoices(const TGameOptions& options);

    HWND mainWindow_;
    TLauncherSettings& launcherSettings_;
    HWND hwnd_ = nullptr;
    TPicture skin_;
    TSkinDrag drag_;
    HFONT font_ = nullptr, boldFont_ = nullptr, linkFont_ = nullptr;
    HBRUSH listBrush_ = nullptr, checkBrush_ = nullptr;
    HWND comboBox1_ = nullptr, comboBox2_ = nullptr, comboBox3_ = nullptr, comboBox4_ = nullptr;
    HWND checkBox1_ = nullptr, checkBox2_ = nullptr, checkBox3_ = nullptr;
    HWND speedButton1_ = nullptr, speedButton2_ = nullptr;
    HWND speedButton3_ = nullptr; // the log's folder, a small link
    bool placed_ = false;         // shown before: keeps its own position
};
