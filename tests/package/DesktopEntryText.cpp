// Prints the desktop entry that the launcher writes on its first start, for
// the values given on the command line, so that the packages' test can hold
// the installed template against it.
//
//   quenmor-desktop-entry NAME COMMENT PROGRAM FOLDER ICON
#include "Desktop.h"

#include <iostream>

int main(int argc, char** argv) {
    if (argc != 6) {
        std::cerr << "usage: quenmor-desktop-entry NAME COMMENT PROGRAM FOLDER ICON\n";
        return 2;
    }
    platform::DesktopEntry entry;
    entry.name = argv[1];
    entry.comment = argv[2];
    entry.program = argv[3];
    entry.folder = argv[4];
    entry.icon = argv[5];
    std::cout << platform::DesktopEntryText(entry);
    return 0;
}
