// The game options dialog without its window: the choices it offers, how they
// are read from the game client's "system/option.ini" and the launcher's
// backup switch, and how they are stored back.
#pragma once

#include "LauncherSettings.h"

#include <array>
#include <string>

// The dialog's texts (UTF-8).
namespace game_options_text {
inline constexpr const char* Title = "Настройки";
inline constexpr const char* UpdateSettings = "Настройки обновления ";
inline constexpr const char* CreateBackup = "Создание резервной копии";
inline constexpr const char* GameSettings = "Игровые настройки ";
inline constexpr const char* Resolution = "Разрешение :";
inline constexpr const char* ColourDepth = "Глубина цвета :";
inline constexpr const char* RefreshRate = "Частота :";
inline constexpr const char* KeepMinFrameRate = "Минимальные настройки";
inline constexpr const char* FullScreen = "Полный экран";
inline constexpr const char* PartyLooting = "Лут :";
inline constexpr const char* Accept = "Принять";
inline constexpr const char* Cancel = "Отмена";
} // namespace game_options_text

// The items of the lists, in their order; a list's selection is an index into
// its items, -1 for none.
struct TResolution {
    int Width;
    int Height;
    const char* Text;
};
// The game tells the modes apart by width + height.
inline constexpr std::array<TResolution, 5> kResolutions{{
    {640, 480, "640x480"},
    {800, 600, "800x600"},
    {1024, 768, "1024x768"},
    {1280, 1024, "1280x1024"},
    {1920, 1080, "1920x1080"},
}};
inline constexpr std::array<int, 2> kColourBits{32, 16};
inline constexpr std::array<const char*, 2> kColourBitsTexts{"32 Бит", "16 Бит"};
inline constexpr std::array<int, 4> kRefreshRates{60, 75, 85, 100};
inline constexpr std::array<const char*, 4> kRefreshRateTexts{"60 Гц", "75 Гц", "85 Гц", "100 Гц"};
// The party looting modes, stored as their index.
inline constexpr std::array<const char*, 5> kLootTexts{
    "Нашедшему", "Случайно", "Случайно (вкл. споил)", "По очереди", "По очереди (вкл. споил)"};

// What the dialog shows.
struct TGameOptions {
    int Resolution = -1;
    int ColourBits = -1;
    int RefreshRate = -1;
    bool KeepMinFrameRate = false;
    bool FullScreen = false;
    int PartyLooting = -1;
    bool CreateBackup = false;
};

// The path of the game's option file in `baseFolder`, in the letter case the
// installation spells it.
std::string OptionFileOf(const std::string& baseFolder);

// Reads `file` into `options` field by field, in the dialog's order: a
// missing key or a number no list holds selects nothing, and the backup
// switch is set (never cleared) when the settings' "CreateBackup" is "1".
// Raises EConvertError when a switch holds no Boolean; the fields before it
// are then read and the ones after it keep their values.
void LoadGameOptions(const std::string& file, const TLauncherSettings& settings,
                     TGameOptions& options);

// Accept: when `file` exists, stores `options` into it (a list without a
// selection leaves its keys as they are) and the backup switch into the
// settings and their file. Without the game's options nothing is stored, not
// even the backup switch. Raises EInOutError when a file cannot be written.
void SaveGameOptions(const std::string& file, const TGameOptions& options,
                     TLauncherSettings& settings);
