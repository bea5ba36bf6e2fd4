#include "GameOptions.h"

#include "Errors.h"
#include "Files.h"
#include "Misc.h"
#include "Profile.h"

#include <cstdint>
#include <filesystem>
#include <string_view>
#include <system_error>

namespace {

// An integer of option.ini; a missing key or a text that is no integer gives
// the default.
int ReadInteger(const std::string& file, std::string_view section, std::string_view key,
                int defaultValue) {
    const std::string text = platform::GetProfileString(file, section, key, "");
    try {
        return StrToInt(text);
    } catch (const EConvertError&) {
        return defaultValue;
    }
}

bool ReadBool(const std::string& file, std::string_view section, std::string_view key,
              std::string_view defaultText) {
    return StrToBool(platform::GetProfileString(file, section, key, defaultText));
}

int ResolutionIndex(std::int64_t sum) {
    for (std::size_t i = 0; i < kResolutions.size(); ++i)
        if (std::int64_t{kResolutions[i].Width} + kResolutions[i].Height == sum)
            return static_cast<int>(i);
    return -1;
}

template <std::size_t N> int IndexOf(const std::array<int, N>& values, int value) {
    for (std::size_t i = 0; i < N; ++i)
        if (values[i] == value)
            return static_cast<int>(i);
    return -1;
}

// The entry of a table that belongs to a list's selection, or null.
template <typename T, std::size_t N> const T* Selected(const std::array<T, N>& table, int index) {
    return index >= 0 && static_cast<std::size_t>(index) < N
               ? &table[static_cast<std::size_t>(index)]
               : nullptr;
}

const char* BoolText(bool value) {
    return value ? "true" : "false";
}

} // namespace

std::string OptionFileOf(const std::string& baseFolder) {
    // Installations copied from Windows may spell the names in another case.
    return platform::ResolveCaseInsensitive(baseFolder, "system/option.ini");
}

void LoadGameOptions(const std::string& file, const TLauncherSettings& settings,
                     TGameOptions& options) {
    const std::int64_t sum = std::int64_t{ReadInteger(file, "Video", "GamePlayViewportX", 0)} +
                             ReadInteger(file, "Video", "GamePlayViewportY", 0);
    options.Resolution = ResolutionIndex(sum);
    options.ColourBits = IndexOf(kColourBits, ReadInteger(file, "Video", "ColorBits", 0));
    options.RefreshRate = IndexOf(kRefreshRates, ReadInteger(file, "Video", "RefreshRate", 0));
    options.KeepMinFrameRate = ReadBool(file, "Video", "IsKeepMinFrameRate", "true");
    options.FullScreen = ReadBool(file, "Video", "StartupFullScreen", "false");
    const int loot = ReadInteger(file, "Game", "PartyLooting", 0);
    options.PartyLooting = loot >= 0 && loot < static_cast<int>(kLootTexts.size()) ? loot : -1;
    if (settings.size() > CreateBackup && settings[CreateBackup] == "1")
        options.CreateBackup = true;
}

void SaveGameOptions(const std::string& file, const TGameOptions& options,
                     TLauncherSettings& settings) {
    std::error_code error;
    if (!std::filesystem::exists(platform::FsPath(file), error))
        return;
    using platform::WriteProfileString;
    // A list without a selection leaves its keys as they are stored.
    if (const TResolution* resolution = Selected(kResolutions, options.Resolution)) {
        WriteProfileString(file, "Video", "GamePlayViewportX", std::to_string(resolution->Width));
        WriteProfileString(file, "Video", "GamePlayViewportY", std::to_string(resolution->Height));
    }
    if (const int* bits = Selected(kColourBits, options.ColourBits))
        WriteProfileString(file, "Video", "ColorBits", std::to_string(*bits));
    if (const int* rate = Selected(kRefreshRates, options.RefreshRate))
        WriteProfileString(file, "Video", "RefreshRate", std::to_string(*rate));
    WriteProfileString(file, "Video", "IsKeepMinFrameRate", BoolText(options.KeepMinFrameRate));
    WriteProfileString(file, "Video", "StartupFullScreen", BoolText(options.FullScreen));
    if (Selected(kLootTexts, options.PartyLooting))
        WriteProfileString(file, "Game", "PartyLooting", std::to_string(options.PartyLooting));
    if (settings.size() > CreateBackup) {
        settings[CreateBackup] = std::string(options.CreateBackup ? "1" : "0");
        WriteProfileString(SettingsFileOf(settings[BaseFolder]), "main", "CreateBackup",
                           settings[CreateBackup]);
    }
}
