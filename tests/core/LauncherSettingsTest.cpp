#include "LauncherSettings.h"
#include "Commands.h"
#include "Errors.h"
#include "GameOptions.h"
#include "Profile.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace testing_support;

namespace {

std::string Folder(const TempDir& dir) {
    return dir.path().string() + "/";
}

std::string Key(const std::string& file, const char* section, const char* key) {
    return platform::GetProfileString(file, section, key, "<none>");
}

} // namespace

TEST(LauncherSettings, MissingKeysTakeTheirDefaultsAndStoredTextsBecomeUtf8) {
    TempDir dir;
    const std::string base = Folder(dir);
    TLauncherSettings settings{"stale"};
    EXPECT_FALSE(LoadSettings(base, settings));
    EXPECT_EQ(settings, TLauncherSettings{base});
    EXPECT_FALSE(SettingsComplete(settings));

    // "Квенмор" in Windows-1251, as the installer writes it.
    WriteFile(base + "Quenmor.ini",
              "[main]\r\nLinkName=\xCA\xE2\xE5\xED\xEC\xEE\xF0\r\nUpdatesUrl=http://u/\r\n");
    ASSERT_TRUE(LoadSettings(base, settings));
    ASSERT_TRUE(SettingsComplete(settings));
    EXPECT_EQ(settings, (TLauncherSettings{base, "", "http://u/", "Квенмор", "0", "0", "0",
                                           "system\\zentyr.exe", "", ""}));
}

TEST(LauncherSettings, TheFirstStartSetsTheFlagOnceAndAsksForTheIconOnlyForAShortcut) {
    TempDir dir;
    const std::string base = Folder(dir);
    const std::string file = base + "Quenmor.ini";
    WriteFile(file, "[main]\r\nLinkName=\r\n");
    TLauncherSettings settings;
    ASSERT_TRUE(LoadSettings(base, settings));
    int asked = 0;
    DoFirstStart(settings, "/opt/quenmor", [&] { return ++asked, std::string(); });
    EXPECT_EQ(Key(file, "main", "Installed"), "1");
    EXPECT_EQ(asked, 0); // an empty name makes no shortcut

    WriteFile(file, "[main]\r\nInstalled=1\r\n");
    ASSERT_TRUE(LoadSettings(base, settings));
    DoFirstStart(settings, "/opt/quenmor", [&] { return ++asked, std::string(); });
    EXPECT_EQ(asked, 0);
    EXPECT_EQ(ReadFile(file), "[main]\r\nInstalled=1\r\n");

    WriteRevision(base, "7");
    EXPECT_EQ(Key(file, "main", "AtRevision"), "7");
}

TEST(GameOptions, ReadsTheListsAndSwitchesAndStoresOnlyWhatIsChosen) {
    TempDir dir;
    const std::string base = Folder(dir);
    WriteFile(base + "Quenmor.ini", "[main]\r\nCreateBackup=1\r\n");
    std::filesystem::create_directory(dir.path() / "System");
    const std::string stored =
        "[Video]\r\nGamePlayViewportX=1024\r\nGamePlayViewportY=768\r\nColorBits=24\r\n"
        "RefreshRate=85\r\nStartupFullScreen=1\r\n[Game]\r\nPartyLooting=5\r\n";
    WriteFile(base + "System/Option.ini", stored);
    const std::string found = OptionFileOf(base); // in the installation's own spelling
    ASSERT_EQ(ReadFile(found), stored);

    TLauncherSettings settings;
    ASSERT_TRUE(LoadSettings(base, settings));
    TGameOptions options;
    LoadGameOptions(found, settings, options);
    EXPECT_EQ(options.Resolution, 2);
    EXPECT_EQ(options.ColourBits, -1); // no list item holds 24
    EXPECT_EQ(options.RefreshRate, 2);
    EXPECT_TRUE(options.KeepMinFrameRate); // missing: its default
    EXPECT_TRUE(options.FullScreen);
    EXPECT_EQ(options.PartyLooting, -1);
    EXPECT_TRUE(options.CreateBackup);

    options.Resolution = 0;
    options.CreateBackup = false;
    SaveGameOptions(found, options, settings);
    EXPECT_EQ(Key(found, "Video", "GamePlayViewportX"), "640");
    EXPECT_EQ(Key(found, "Video", "ColorBits"), "24"); // no selection: left as stored
    EXPECT_EQ(Key(found, "Video", "IsKeepMinFrameRate"), "true");
    EXPECT_EQ(Key(found, "Game", "PartyLooting"), "5");
    EXPECT_EQ(settings[CreateBackup], "0");
    EXPECT_EQ(Key(base + "Quenmor.ini", "main", "CreateBackup"), "0");
}

TEST(GameOptions, ABadSwitchKeepsWhatWasReadBeforeItAndNoOptionFileStoresNothing) {
    TempDir dir;
    const std::string base = Folder(dir);
    WriteFile(base + "Quenmor.ini", "[main]\r\nCreateBackup=0\r\n");
    const std::string file = base + "option.ini";
    WriteFile(file, "[Video]\r\nRefreshRate=100\r\nStartupFullScreen=maybe\r\n");
    TLauncherSettings settings;
    ASSERT_TRUE(LoadSettings(base, settings));
    TGameOptions options;
    options.PartyLooting = 3;
    EXPECT_THROW(LoadGameOptions(file, settings, options), EConvertError);
    EXPECT_EQ(options.RefreshRate, 3);
    EXPECT_TRUE(options.KeepMinFrameRate);
    EXPECT_EQ(options.PartyLooting, 3); // after the bad switch: kept

    options.CreateBackup = true;
    SaveGameOptions(base + "missing.ini", options, settings);
    EXPECT_FALSE(Exists(base + "missing.ini"));
    EXPECT_EQ(settings[CreateBackup], "0");
    EXPECT_EQ(Key(base + "Quenmor.ini", "main", "CreateBackup"), "0");
}

TEST(Commands, PlayWithIncompleteSettingsStartsNothingAndAMissingGameFolderIsNamed) {
    TempDir dir;
    const std::string base = Folder(dir);
    StartGame({base});      // nothing to start
    StartRenameBatch(base); // none there: nothing to say
    TLauncherSettings settings{base, "", "", "", "1", "0", "0", "nowhere\\game.exe", ""};
    EXPECT_THROW(StartGame(settings), EInOutError);
}
