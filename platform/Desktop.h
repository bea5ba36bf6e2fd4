// The user's desktop session: the desktop shortcut (on Windows a shell link
// on the user's desktop; elsewhere a desktop entry file on the user's desktop
// and in the applications menu, as freedesktop.org desktops read them) and
// the folders where a desktop program keeps its own files.
#pragma once

#include <string>

namespace platform {

// A shortcut that starts a program.
struct Shortcut {
    std::string name;        // the shortcut's name, also its file's name
    std::string description; // what it starts
    std::string program;     // the program's absolute path
    std::string folder;      // its working folder
    std::string icon;        // an icon file's path, or empty (Windows shows the program's own)
};

// Makes `shortcut` on the user's desktop, replacing one of the same name:
// "<name>.lnk" in the desktop folder on Windows, "<name>.desktop" on the
// desktop and in the applications menu elsewhere. A path separator in the
// name becomes "_", so that the file stays in its folder; on Windows so does
// every other character that a file name cannot hold, a long name is cut
// short, and the paths may use "/" as well as "\". Writes nothing for an
// empty name. Returns whether the desktop's one was written.
bool CreateDesktopShortcut(const Shortcut& shortcut);

// The folder for the launcher's state that outlives a run, its log among it:
// on Windows %LOCALAPPDATA%\Quenmor (without the variable, in the shell's
// local application data folder); elsewhere $XDG_STATE_HOME (else
// $HOME/.local/state) + "/quenmor". The folder is not made here: whoever
// writes in it makes it.
std::string StateFolder();

// Opens `url` (UTF-8) in the user's web browser, without waiting: on Windows
// through the shell, elsewhere through xdg-open. Returns whether that could
// be started.
bool OpenInBrowser(const std::string& url);

// Shows the folder `path` (UTF-8) in the user's file manager, without
// waiting: on Windows through the shell, elsewhere through xdg-open.
// Returns whether that could be started.
bool OpenFolder(const std::string& path);

// The user's desktop folder: on Windows the shell's desktop folder; elsewhere
// XDG_DESKTOP_DIR from the user's user-dirs.dirs,
// else $HOME/Desktop.
std::string DesktopFolder();

// Has the system's web browser control show the pages of the program whose
// file name (without folder, e.g. "Quenmor.exe") is given in the browser's
// current document mode, as the browser itself shows them, rather than in
// the mode of old pages that the control keeps for programs that do not ask
// (on Windows, the program's value under the current user's
// FEATURE_BROWSER_EMULATION key). For this user only; nothing is asked of
// the player. A failure is ignored: the control then shows the pages in its
// old mode. Does nothing for an empty name, and nothing elsewhere than on
// Windows, whose news browser is another engine.
void PreferCurrentBrowserMode(const std::string& programFileName);

// What follows is of freedesktop.org desktops only, and so is left out of
// the Windows build.
#ifndef _WIN32

// The folder of the user's applications menu entries: $XDG_DATA_HOME (else
// $HOME/.local/share) + "/applications".
std::string ApplicationsFolder();

// The folder for the user's icons: $XDG_DATA_HOME (else $HOME/.local/share)
// + "/icons".
std::string IconsFolder();

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

#endif // _WIN32

} // namespace platform
