// The launcher on Windows: started in the game client's root folder, normally
// through the shortcut it makes on its first start.
#include "CommandLine.h"
#include "Console.h"
#include "GuardedCall.h"
#include "MainWindow.h"
#include "Messages.h"
#include "OptionsDialog.h"
#include "WideText.h"

#include <windows.h>

#include <ole2.h>

#include <cstdio>
#include <cstdlib>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
    // Answered before any window: printed where the caller sees it, or in a
    // message box when the program was started from the desktop.
    if (const auto answer = CommandLineAnswer(platform::ProgramArguments(0, nullptr))) {
        if (platform::OutputForWindowProgram()) {
            std::fputs(answer->c_str(), stdout);
            std::fflush(stdout);
        } else {
            MessageBoxW(nullptr, platform::Wide(*answer).c_str(),
                        platform::Wide(kApplicationTitle).c_str(), MB_OK | MB_ICONINFORMATION);
        }
        return 0;
    }
    // The news browser is an OLE control: its thread is a single-threaded
    // apartment with OLE's clipboard and drag and drop.
    // The common controls are loaded with the options dialog, after the
    // main window's first paint.
    const HRESULT ole = OleInitialize(nullptr);

    int code = 0;
    bool abandoned = false;
    {
        TFMain FMain;
        if (!GuardedCall([&] { FMain.Create(instance); }))
            return 1;
        GuardedCall([&] { FMain.FormCreate(); });
        // The options dialog is made right after the main window has first
        // been painted: nothing can open it before, and making it first would
        // keep the main window from the screen that much longer.
        TForm1 Form1(FMain.Handle(), FMain.LauncherSettings);
        FMain.AfterFirstPaint = [&] {
            if (GuardedCall([&] { Form1.Create(instance); })) {
                GuardedCall([&] { Form1.FormCreate(); });
                FMain.OpenOptions = [&Form1] { Form1.Open(); };
            }
        };
        if (!FMain.Terminating) {
            // Centred on the desktop's work area.
            RECT work{};
            SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
            RECT own{};
            GetWindowRect(FMain.Handle(), &own);
            const int width = own.right - own.left;
            const int height = own.bottom - own.top;
            SetWindowPos(FMain.Handle(), nullptr, work.left + (work.right - work.left - width) / 2,
                         work.top + (work.bottom - work.top - height) / 2, 0, 0,
                         SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
            ShowWindow(FMain.Handle(), show == SW_HIDE ? SW_SHOWNORMAL : show);
            UpdateWindow(FMain.Handle());
        }
        MSG message;
        while (GetMessageW(&message, nullptr, 0, 0) > 0) {
            if (Form1.PreTranslate(message))
                continue;
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        code = static_cast<int>(message.wParam);
        abandoned = FMain.RunAbandoned();
        // A run that would not stop in time must not hold the program up: its
        // files are installed whole or not at all.
        if (abandoned)
            std::_Exit(code);
    }
    if (SUCCEEDED(ole))
        OleUninitialize();
    return code;
}
