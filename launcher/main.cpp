// The launcher: started in the game client's root folder, normally through the
// shortcut it makes on its first start.
#include "Application.h"
#include "Frm2.h"
#include "UnitMain.h"

#include <QGuiApplication>
#include <QScreen>

#include <cstdlib>
#include <iostream>
#include <string_view>

namespace {

constexpr const char* kUsage =
    "usage: Quenmor [--help] [--version]\n"
    "\n"
    "The launcher of the Quenmor game client: it shows the news, brings the\n"
    "installation up to date with its update server, edits the game options and\n"
    "starts the game. It is started in the client's folder, which holds its\n"
    "settings in Quenmor.ini; on the first start it adds a desktop entry that\n"
    "starts it there.\n"
    "\n"
    "  --help     this text\n"
    "  --version  the launcher's version\n";

} // namespace

int main(int argc, char** argv) {
    // Answered before the window toolkit starts: no display is needed.
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--help" || argument == "-h") {
            std::cout << kUsage;
            return 0;
        }
        if (argument == "--version") {
            std::cout << "Quenmor " QUENMOR_VERSION "\n";
            return 0;
        }
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
