#include "LauncherSettings.h"

#include "Desktop.h"
#include "GetFilesThr.h"
#include "Profile.h"
#include "Text.h"

#include <filesystem>
#include <system_error>

namespace {

// The keys of section "main" with their defaults, in the order of the entries.
struct Key {
    const char* name;
    const char* fallback;
};
const Key kKeys[] = {
    {"NewsUrl", ""},
    {"UpdatesUrl", ""},
    {"LinkName", "Quenmor"},
    {"Installed", "0"},
    {"CreateBackup", "0"},
    {"AtRevision", "0"},
    {"RunCustom", "system\\zentyr.exe"},
    {"UpdateKey", ""},
    {"UpdateMirrors", ""},
};

constexpr const char* kSection = "main";

} // namespace

std::string SettingsFileOf(const std::string& baseFolder) {
    return baseFolder + kSettingsFileName;
}

bool LoadSettings(const std::string& baseFolder, TLauncherSettings& settings) {
    settings.clear();
    settings.push_back(baseFolder);
    const std::string file = SettingsFileOf(baseFolder);
    std::error_code error;
    if (!std::filesystem::is_regular_file(file, error))
        return false;
    for (const Key& key : kKeys)
        settings.push_back(platform::SettingsTextToUtf8(
            platform::GetProfileString(file, kSection, key.name, key.fallback)));
    return true;
}

bool SettingsComplete(const TLauncherSettings& settings) {
    return settings.size() > UpdateMirrors;
}

void DoFirstStart(const TLauncherSettings& settings, const std::string& program,
                  const std::function<std::string()>& icon) {
    if (!SettingsComplete(settings) || settings[Installed] != "0")
        return;
    platform::WriteProfileString(SettingsFileOf(settings[BaseFolder]), kSection, "Installed", "1");
    if (settings[LinkName].empty())
        return;
    platform::CreateDesktopShortcut({settings[LinkName], "Quenmor", program, settings[BaseFolder],
                                     icon ? icon() : std::string()});
}

void WriteRevision(const std::string& baseFolder, const std::string& revision) {
    platform::WriteProfileString(SettingsFileOf(baseFolder), kSection, "AtRevision", revision);
}
