// The launcher: started in the game client's root folder, normally through the
// shortcut it makes on its first start.
#include "Application.h"
#include "CommandLine.h"
#include "Console.h"
#include "Frm2.h"
#include "UnitMain.h"

#include <QGuiApplication>
#include <QScreen>

#include <cstdlib>
#include <iostream>

int main(int argc, char** argv) {
    // Answered before the window toolkit starts: no display is needed.
    if (const auto answer = CommandLineAnswer(platform::ProgramArguments(argc, argv))) {
        std::cout << *answer;
        return 0;
    }

    TApplication application(argc, argv);

    TFMain FMain;
    Guarded([&] { FMain.FormCreate(); });
    TForm1 Form1(&FMain, FMain.LauncherSettings);
    Guarded([&] { Form1.FormCreate(); });
    FMain.Form1 = &Form1;
    if (FMain.Terminating)
        return 0;

    const QRect desktop = QGuiApplication::primaryScreen()->availableGeometry();
    FMain.move(desktop.center() - QPoint(FMain.width() / 2, FMain.height() / 2));
    FMain.show();
    const int code = application.exec();
    // A run that would not stop in time must not hold the program up: its
    // files are installed whole or not at all.
    if (FMain.RunAbandoned())
        std::quick_exit(code);
    return code;
}
