#include "Text.h"
#include "Files.h"

#include <gtest/gtest.h>

using namespace platform;

TEST(Text, Windows1251RoundTripsThroughUtf8) {
    const std::string ansi = "\xcf\xf0\xee\xe2\xe5\xf0\xea\xe0 \xa8\xb8 \x88"; // "Проверка Ёё €"
    EXPECT_EQ(AnsiToUtf8(ansi), "Проверка Ёё €");
    EXPECT_EQ(Utf8ToAnsi("Проверка Ёё €"), ansi);
    std::string all;
    for (int b = 1; b < 256; ++b)
        if (b != 0x98)
            all += static_cast<char>(b);
    EXPECT_EQ(Utf8ToAnsi(AnsiToUtf8(all)), all);
}

TEST(Text, RefusesWhatWindows1251CannotCarry) {
    EXPECT_FALSE(Utf8ToAnsi("日本"));
    EXPECT_FALSE(Utf8ToAnsi("\xff\xfe"));     // not UTF-8
    EXPECT_FALSE(Utf8ToAnsi("\xc0\xaf"));     // overlong "/"
    EXPECT_FALSE(Utf8ToAnsi("\xed\xa0\x80")); // surrogate
    EXPECT_FALSE(Utf8ToAnsi("\xd0"));         // cut short
}

TEST(Text, SettingsValuesAreUtf8WhenValidElseWindows1251) {
    EXPECT_EQ(SettingsTextToUtf8("Мой клиент"), "Мой клиент");
    EXPECT_EQ(SettingsTextToUtf8("\xcc\xee\xe9"), "Мой");
}

TEST(Text, ManifestPathsBecomeLocalPathsAndBack) {
    // Local paths keep "\\" on Windows; addresses and the publisher use "/".
    EXPECT_EQ(ManifestPathToLocal("system\\\xea\xe0\xf0\xf2\xe0.dat"),
              "system" + std::string(1, platform::kPathSeparator) + "карта.dat");
    EXPECT_EQ(ManifestPathToRelative("system\\\xea\xe0\xf0\xf2\xe0.dat"), "system/карта.dat");
    EXPECT_EQ(LocalPathToManifest("system/карта.dat"), "system\\\xea\xe0\xf0\xf2\xe0.dat");
    EXPECT_EQ(LocalPathToManifest(ManifestPathToLocal("a\\b\\c")), "a\\b\\c");
}

TEST(Text, AddressPathsArePercentEncoded) {
    EXPECT_EQ(EncodeUrlPath("data/my file.txt"), "data/my%20file.txt");
    EXPECT_EQ(EncodeUrlPath("карта"), "%D0%BA%D0%B0%D1%80%D1%82%D0%B0");
    EXPECT_EQ(EncodeUrlPath("a%b#c?d+e"), "a%25b%23c%3Fd%2Be");
    EXPECT_EQ(EncodeUrlPath("Aa0-._~/"), "Aa0-._~/");
}

TEST(Text, FoldCaseForFileNames) {
    EXPECT_EQ(FoldCase("System/ZENTYR.exe"), "system/zentyr.exe");
    EXPECT_EQ(FoldCase("МИР Ёлки ЂЏ Ґ"), "мир ёлки ђџ ґ");
    EXPECT_EQ(FoldCase("\xff"), "\xff");
}

// Read back by CommandLineToArgvW: quotes only where needed, and backslashes
// doubled only in front of a quote, the closing one included.
TEST(Text, WindowsCommandLineArgumentsReadBackAsTheyStand) {
    EXPECT_EQ(platform::WindowsCommandLineArgument("C:\\Games\\Quenmor.exe"),
              "C:\\Games\\Quenmor.exe");
    EXPECT_EQ(platform::WindowsCommandLineArgument(""), "\"\"");
    EXPECT_EQ(platform::WindowsCommandLineArgument("C:\\Program Files\\Quenmor"),
              "\"C:\\Program Files\\Quenmor\"");
    EXPECT_EQ(platform::WindowsCommandLineArgument("C:\\my games\\"), "\"C:\\my games\\\\\"");
    EXPECT_EQ(platform::WindowsCommandLineArgument("say \"hi\\\""), "\"say \\\"hi\\\\\\\"\"");
    EXPECT_EQ(platform::WindowsCommandLineArgument("tab\there"), "\"tab\there\"");
}
