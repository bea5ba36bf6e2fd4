// The user's desktop session: the desktop shortcut (a desktop entry file on
// the user's desktop and in the applications menu, as freedesktop.org
// desktops read them) and the folders where a desktop program keeps its own
// files.
#pragma once

#include <string>

namespace platform {

// The user's desktop folder: XDG_DESKTOP_DIR from the user's user-dirs.dirs,
// else $HOME/Desktop.
std::string DesktopFolder();

// The folder of the user's applications menu entries: $XDG_DATA_HOME (else
// $HOME/.local/share) + "/applications".
std::string ApplicationsFolder();

// The folder for the user's icons: $XDG_DATA_HOME (else $HOME/.local/share)
// + "/icons".
std::string IconsFolder();

// The folder for the launcher's state that outlives a run, its log among it:
// $XDG_STATE_HOME (else $HOME/.local/state) + "/quenmor".
std::string StateFolder();

struct DesktopEntry {
    std::string name;    // the shortcut's name
    std::string comment; // its description
    std::string program; // the program's absolute path
    std::string folder;  // its working folder
    std::string icon;    // an icon file's path, or empty
};

// The text of the entry (a launcher of type Application), every value
// escaped as the format requires and the program quoted for Exec.
std::string DesktopEntryText(const DesktopEntry& entry);

// Writes the entry as `folder` + "/" + `fileName` + ".desktop", creating the
// folder, executable, and marks it trusted where the desktop allows it.
// Returns whether the file was written.
bool WriteDesktopEntry(const std::string& folder, const std::string& fileName,
                       const DesktopEntry& entry);

} // namespace platform
