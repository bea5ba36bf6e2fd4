#include "Desktop.h"

#include "Files.h"
#include "Process.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <system_error>

namespace fs = std::filesystem;

namespace platform {
namespace {

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

std::string Home() {
    return Environment("HOME");
}

std::string DataHome() {
    const std::string data = Environment("XDG_DATA_HOME");
    return data.empty() ? Home() + "/.local/share" : data;
}

// A value of a string key: backslashes and control characters escaped.
std::string EscapeValue(std::string_view text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            out += c;
        }
    }
    return out;
}

// One argument of an Exec line: quoted when it holds a reserved character,
// with the characters that stay special inside quotes escaped; "%" doubled.
std::string ExecArgument(std::string_view text) {
    const std::string_view reserved = " \t\n\"'\\><~|&;$*?#()`";
    std::string arg;
    for (char c : text)
        arg += c == '%' ? std::string("%%") : std::string(1, c);
    if (arg.find_first_of(reserved) == std::string::npos)
        return arg;
    std::string quoted = "\"";
    for (char c : arg) {
        if (c == '"' || c == '`' || c == '$' || c == '\\')
            quoted += '\\';
        quoted += c;
    }
    return quoted + "\"";
}

} // namespace

std::string DesktopFolder() {
    std::string config = Environment("XDG_CONFIG_HOME");
    if (config.empty())
        config = Home() + "/.config";
    std::ifstream dirs(config + "/user-dirs.dirs");
    std::string line;
    const std::string key = "XDG_DESKTOP_DIR=";
    while (std::getline(dirs, line)) {
        if (line.rfind(key, 0) != 0)
            continue;
        std::string value = line.substr(key.size());
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        if (value.rfind("$HOME", 0) == 0)
            value = Home() + value.substr(5);
        if (!value.empty() && value.front() == '/')
            return value;
    }
    return Home() + "/Desktop";
}

std::string ApplicationsFolder() {
    return DataHome() + "/applications";
}

std::string IconsFolder() {
    return DataHome() + "/icons";
}

std::string StateFolder() {
    const std::string state = Environment("XDG_STATE_HOME");
    return (state.empty() ? Home() + "/.local/state" : state) + "/quenmor";
}

std::string DesktopEntryText(const DesktopEntry& entry) {
    std::string text = "[Desktop Entry]\n";
    text += "Type=Application\n";
    text += "Version=1.0\n";
    text += "Name=" + EscapeValue(entry.name) + "\n";
    text += "Comment=" + EscapeValue(entry.comment) + "\n";
    text += "Exec=" + EscapeValue(ExecArgument(entry.program)) + "\n";
    text += "Path=" + EscapeValue(entry.folder) + "\n";
    if (!entry.icon.empty())
        text += "Icon=" + EscapeValue(entry.icon) + "\n";
    text += "Terminal=false\n";
    text += "Categories=Game;\n";
    return text;
}

bool WriteDesktopEntry(const std::string& folder, const std::string& fileName,
                       const DesktopEntry& entry) {
    std::error_code error;
    fs::create_directories(folder, error);
    const std::string path = folder + "/" + fileName + ".desktop";
    try {
        const std::string text = DesktopEntryText(entry);
        AtomicFile file(path);
        file.Write(text.data(), text.size());
        file.Commit();
    } catch (const std::exception&) {
        return false;
    }
    fs::permissions(path, fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec,
                    fs::perm_options::add, error);
    // GNOME starts desktop files only once they are marked trusted; other
    // desktops go by the executable bit. Best effort: nothing waits for it.
    for (const char* gio : {"/usr/bin/gio", "/bin/gio"}) {
        if (fs::exists(gio, error)) {
            StartDetached(gio, {"set", path, "metadata::trusted", "true"}, folder);
            break;
        }
    }
    return true;
}

bool CreateDesktopShortcut(const Shortcut& shortcut) {
    if (shortcut.name.empty())
        return false;
    std::string fileName = shortcut.name;
    for (char& c : fileName)
        if (c == '/')
            c = '_';
    DesktopEntry entry;
    entry.name = shortcut.name;
    entry.comment = shortcut.description;
    entry.program = shortcut.program;
    entry.folder = shortcut.folder;
    entry.icon = shortcut.icon;
    const bool written = WriteDesktopEntry(DesktopFolder(), fileName, entry);
    // Several desktops show no icons on the desktop: the menu has it too.
    WriteDesktopEntry(ApplicationsFolder(), fileName, entry);
    return written;
}

bool OpenInBrowser(const std::string& url) {
    const std::string opener = FindOnPath("xdg-open");
    return !opener.empty() && StartDetached(opener, {url}, "/");
}

bool OpenFolder(const std::string& path) {
    const std::string opener = FindOnPath("xdg-open");
    return !opener.empty() && StartDetached(opener, {path}, "/");
}

void PreferCurrentBrowserMode(const std::string&) {
    // The news browser here is Qt's own engine, which has no old modes.
}

} // namespace platform
