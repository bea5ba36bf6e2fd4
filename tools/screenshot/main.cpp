// quenmor-screenshot: saves what the display shows into a PNG file, for the
// demo and the window tests on an X server without a desktop.
//
//   quenmor-screenshot OUTPUT.png [X Y WIDTH HEIGHT]
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    QGuiApplication application(argc, argv);
    if (argc != 2 && argc != 6) {
        std::fprintf(stderr, "usage: quenmor-screenshot OUTPUT.png [X Y WIDTH HEIGHT]\n");
        return 2;
    }
    QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr) {
        std::fprintf(stderr, "quenmor-screenshot: no screen\n");
        return 1;
    }
    QPixmap picture = argc == 6 ? screen->grabWindow(0, std::atoi(argv[2]), std::atoi(argv[3]),
                                                     std::atoi(argv[4]), std::atoi(argv[5]))
                                : screen->grabWindow(0);
    if (picture.isNull() || !picture.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "quenmor-screenshot: could not save %s\n", argv[1]);
        return 1;
    }
    return 0;
}
