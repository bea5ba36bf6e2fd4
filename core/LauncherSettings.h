// The launcher's settings: the keys of section "main" of "Quenmor.ini" in the
// base folder as the launcher reads them at start-up, the steps of the first
// start (the installed flag, then the desktop shortcut), and the revision the
// launcher records.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

// The launcher settings in memory: entry 0 the base folder (ending with the
// separator), then the keys of section "main" of "Quenmor.ini" in this order.
using TLauncherSettings = std::vector<std::string>;
enum TSetting : std::size_t {
    BaseFolder = 0,
    NewsUrl = 1,
    UpdatesUrl = 2,
    LinkName = 3,
    Installed = 4,
    CreateBackup = 5,
    AtRevision = 6,
    RunCustom = 7,
    // The public keys of signed update trees that this installation trusts.
    UpdateKey = 8,
    // Other addresses of the update tree, comma-separated, asked for the
    // manifest when UpdatesUrl cannot give it.
    UpdateMirrors = 9,
};

// "Quenmor.ini" in `baseFolder` (which ends with the separator).
std::string SettingsFileOf(const std::string& baseFolder);

// Reads the settings of the installation in `baseFolder`: the base folder,
// then every key, a missing key read as its default (texts in UTF-8). Without
// a settings file the settings hold the base folder only and the result is
// false.
bool LoadSettings(const std::string& baseFolder, TLauncherSettings& settings);

// Whether `settings` were read from a file (every entry is there).
bool SettingsComplete(const TLauncherSettings& settings);

// The first start of an installation ("Installed" is "0"): sets the flag
// first, so that the shortcut is tried once per installation, then makes the
// desktop shortcut named "LinkName" (none for an empty name) that starts
// `program` in the base folder, described as "Quenmor", with the icon file
// that `icon` gives (asked for only when a shortcut is made; empty for the
// program's own). Raises what a refused write of the flag raises; a shortcut
// that cannot be made is left out.
void DoFirstStart(const TLauncherSettings& settings, const std::string& program,
                  const std::function<std::string()>& icon = {});

// Records `revision` as the installation's "AtRevision" (a text as a run
// stores it). Raises what a refused write raises.
void WriteRevision(const std::string& baseFolder, const std::string& revision);
