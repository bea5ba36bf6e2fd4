#include "Misc.h"
#include "Errors.h"
#include "Files.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

using testing_support::Exists;
using testing_support::TempDir;
using testing_support::WriteFile;
using Fields = std::vector<std::string>;

TEST(SplitFromEnd, TakesFieldsFromTheEndAndDropsEmptyOnes) {
    EXPECT_EQ(SplitFromEnd("path|digest|size", "|"), (Fields{"size", "digest", "path"}));
    EXPECT_EQ(SplitFromEnd("a||b|", "|"), (Fields{"b", "a"}));
    EXPECT_EQ(SplitFromEnd("|word|", "|"), (Fields{"word"}));
    EXPECT_EQ(SplitFromEnd("", "|"), Fields{});
    EXPECT_EQ(SplitFromEnd("|||", "|"), Fields{});
    EXPECT_EQ(SplitFromEnd("Rev", "|"), (Fields{"Rev"}));
    // Blanks next to a separator belong to the field.
    EXPECT_EQ(SplitFromEnd("a | b", "|"), (Fields{" b", "a "}));
    // Any character of the set separates.
    EXPECT_EQ(SplitFromEnd("a;b|c", "|;"), (Fields{"c", "b", "a"}));
}

TEST(ReplaceText, ReplacesLeftToRightWithoutOverlapsOrRescanning) {
    EXPECT_EQ(ReplaceText("a\\b\\c", "\\", "/"), "a/b/c");
    EXPECT_EQ(ReplaceText("aaa", "aa", "b"), "ba");
    EXPECT_EQ(ReplaceText("ab", "a", "aa"), "aab");
    EXPECT_EQ(ReplaceText("abc", "", "x"), "abc");
    EXPECT_EQ(ReplaceText("", "a", "b"), "");
}

TEST(StrToInt, AcceptsDecimalAndHexadecimalInTheSigned32BitRange) {
    EXPECT_EQ(StrToInt("15"), 15);
    EXPECT_EQ(StrToInt("-7"), -7);
    EXPECT_EQ(StrToInt("+7"), 7);
    EXPECT_EQ(StrToInt("  42"), 42);
    EXPECT_EQ(StrToInt("2147483647"), 2147483647);
    EXPECT_EQ(StrToInt("-2147483648"), -2147483647 - 1);
    EXPECT_EQ(StrToInt("$1F"), 31);
    EXPECT_EQ(StrToInt("0x10"), 16);
    EXPECT_EQ(StrToInt("0XfF"), 255);
    EXPECT_EQ(StrToInt("$FFFFFFFF"), -1);
}

TEST(StrToInt, RefusesEverythingElseWithTheOffendingText) {
    for (const char* bad : {"", " ", "Rev", "12a", "4 ", "1.5", "2147483648", "-2147483649", "$",
                            "0x", "$100000000", "--1", "١"}) {
        try {
            StrToInt(bad);
            ADD_FAILURE() << "accepted '" << bad << "'";
        } catch (const EConvertError& e) {
            EXPECT_EQ(std::string(e.what()),
                      "'" + std::string(bad) + "' is not a valid integer value");
        }
    }
}

// Sizes of files past 2 GiB: the same text rules in 64 bits.
TEST(StrToInt64, TakesSizesBeyond32BitsWithTheSameRules) {
    EXPECT_EQ(StrToInt64("5368709120"), std::int64_t{5} << 30);
    EXPECT_EQ(StrToInt64("9223372036854775807"), INT64_MAX);
    EXPECT_EQ(StrToInt64("-9223372036854775808"), INT64_MIN);
    EXPECT_EQ(StrToInt64("$FFFFFFFF"), 0xFFFFFFFFll);
    EXPECT_EQ(StrToInt64("$FFFFFFFFFFFFFFFF"), -1);
    for (const char* bad : {"9223372036854775808", "$10000000000000000", "5G", ""})
        EXPECT_THROW(StrToInt64(bad), EConvertError) << bad;
}

TEST(IsSafeRelativePath, AcceptsPlainRelativePaths) {
    for (const char* good : {"a", "system\\zentyr.exe", "data/maps/x.map", "Мир\\карта.dat",
                             "file.bz2", "..name", "a..b\\c", "with space.txt"})
        EXPECT_TRUE(IsSafeRelativePath(good)) << good;
}

TEST(IsSafeRelativePath, RefusesPathsThatCouldLeaveTheInstallation) {
    for (const char* bad :
         {"", "\\abs", "/abs", "C:\\x", "c:x", "\\\\server\\share\\x", "..\\x", "a\\..\\..\\x",
          ".\\x", "a\\.", "a\\", "a\\\\b", "a/../x", "nul:", "a\tb", "a\x01"})
        EXPECT_FALSE(IsSafeRelativePath(bad)) << bad;
}

// Names that Windows reads as another file ("a." is "a") or as a device are
// refused on every system: whole, as a folder, and as the last component.
TEST(IsSafeRelativePath, RefusesNamesThatWindowsReadsAsAnotherFileOrADevice) {
    const std::vector<std::string> unsafe = {
        "a.",      "b ",      "a. ",      "a .",    "name...",     "CON",        "con",
        "Con.txt", "NUL.txt", "nul",      "PRN",    "aux",         "aux.tar.gz", "com1.dat",
        "COM9",    "lpt1",    "LpT9.log", "CONIN$", "conout$.txt", "con .txt",   "nul  .a.b"};
    // B9 and B3 are "№" and "і" in Windows-1251, not the superscripts of "COM¹".
    const std::vector<std::string> ordinary = {
        "CONFIG.SYS", "console.dat", "com10", "nul_", "COM0",  "lpt0.txt", "com",
        "lpt",        "auxiliary",   "x.con", ".nul", "conin", "COM\xB9",  "LPT\xB3.txt"};
    for (const auto& [names, safe] : {std::pair{unsafe, false}, std::pair{ordinary, true}})
        for (const std::string& name : names)
            for (const std::string& path : {name, "data\\" + name + "\\x.dat", "a/" + name})
                EXPECT_EQ(IsSafeRelativePath(path), safe) << path;
    EXPECT_TRUE(IsWindowsDeviceName("COM1.x"));
    EXPECT_FALSE(IsWindowsDeviceName("COM1x"));
}

TEST(DeleteFolder, RemovesTreeAndTreatsMissingFolderAsDone) {
    TempDir dir;
    WriteFile(dir / "backup/a/b.txt", "x");
    WriteFile(dir / "keep.txt", "y");
    EXPECT_TRUE(DeleteFolder(dir / "backup"));
    EXPECT_FALSE(Exists(dir / "backup"));
    EXPECT_TRUE(Exists(dir / "keep.txt"));
    EXPECT_TRUE(DeleteFolder(dir / "backup"));
}

TEST(DeleteFolder, RemovesALinkWithoutFollowingIt) {
    if (platform::kPathSeparator == '\\')
        GTEST_SKIP() << "no symbolic links";
    TempDir dir;
    WriteFile(dir / "elsewhere/precious.txt", "x");
    std::filesystem::create_directory_symlink(dir / "elsewhere", dir / "backup");
    EXPECT_TRUE(DeleteFolder(dir / "backup"));
    EXPECT_TRUE(Exists(dir / "elsewhere/precious.txt"));
}

TEST(FindFrom, AgreesWithAPlainSearch) {
    const std::string text = "127.0.0.1\tlogin.quenmor.example # 10.0.0.1 quenmor.example";
    for (const char* pattern : {"quenmor.example", "127.0.0.1\t", "10.0.0.1 ", "e", "#", "x",
                                "example", "127.0.0.1 ", "quenmor.example.com", "a"}) {
        const std::size_t expected = text.find(pattern);
        EXPECT_EQ(FindFrom(1, text, pattern), expected == std::string::npos ? 0 : expected + 1)
            << pattern;
    }
    EXPECT_EQ(FindFrom(12, text, "quenmor"), text.find("quenmor", 11) + 1);
    EXPECT_EQ(FindFrom(1, text, ""), 0u);
    EXPECT_EQ(FindFrom(1, "ab", "abc"), 0u);
    EXPECT_EQ(FindFrom(1, "aaab", "aab"), 2u); // a mismatch after a matching last byte moves by one
}

TEST(IsPlainHostName, AcceptsDnsNamesOnly) {
    for (const char* good : {"localhost", "login.quenmor.example", "a-b.c1", "X"})
        EXPECT_TRUE(IsPlainHostName(good)) << good;
    for (const char* bad :
         {"", ".", "a..b", "-a.b", "a-.b", "a b", "a\tb", "a_b", "a.b.", "ё.рф", "a\nb", "a#b"})
        EXPECT_FALSE(IsPlainHostName(bad)) << bad;
    EXPECT_FALSE(IsPlainHostName(std::string(64, 'a')));
    EXPECT_TRUE(IsPlainHostName(std::string(63, 'a')));
}

// The launcher is ended by its process id and waited for, with the system's
// programs named by their paths, before anything is moved (that the wait
// works the run under Wine shows); the names are quoted, "%" doubled.
TEST(UpdateScript, BatchFileWaitsForTheLauncherByItsProcessIdThenMovesQuotedNames) {
    const std::string text = UpdateBatchText("C:\\Games\\Quenmor", "Quenmor.exe", true, 4242);
    const std::size_t ended = text.find(":ended\r\n");
    ASSERT_NE(ended, std::string::npos) << text;
    const std::string wait = text.substr(0, ended);
    EXPECT_NE(wait.find("\"%SystemRoot%\\System32\\taskkill.exe\" /PID 4242 /F\r\n"),
              std::string::npos)
        << text;
    EXPECT_NE(wait.find("tasklist.exe /FI \"PID eq 4242\""), std::string::npos) << text;
    EXPECT_EQ(wait.find("del "), std::string::npos) << text;
    EXPECT_EQ(text.substr(ended), ":ended\r\n"
                                  "popd\r\n"
                                  "del \"C:\\Games\\Quenmor\\files.lst\"\r\n"
                                  "del \"C:\\Games\\Quenmor\\Quenmor.exe\"\r\n"
                                  "rename \"Quenmor.exe.New\" \"Quenmor.exe\"\r\n"
                                  "start \"\" \"Quenmor.exe\"\r\n"
                                  "del \"Update.bat\"\r\n");
    EXPECT_TRUE(
        UpdateBatchText("C:\\Games\\Quenmor", "Quenmor.exe", false, 4242)
            .ends_with(":ended\r\npopd\r\nstart \"\" \"Quenmor.exe\"\r\ndel \"Update.bat\"\r\n"));
    const std::string odd = UpdateBatchText("D:\\100% & more", "My 50%.exe", true, 4242);
    EXPECT_TRUE(odd.ends_with("del \"D:\\100%% & more\\files.lst\"\r\n"
                              "del \"D:\\100%% & more\\My 50%%.exe\"\r\n"
                              "rename \"My 50%%.exe.New\" \"My 50%%.exe\"\r\n"
                              "start \"\" \"My 50%%.exe\"\r\n"
                              "del \"Update.bat\"\r\n"))
        << odd;
}

TEST(UpdateScript, ShellScriptQuotesEveryPathAndWaitsForTheProcessItEnds) {
    const std::string ending = "kill -9 4242 2>/dev/null\n"
                               "tries=0\n"
                               "while kill -0 4242 2>/dev/null && [ \"$tries\" -lt 10 ]; "
                               "do sleep 1; tries=$((tries + 1)); done\n";
    EXPECT_EQ(
        UpdateShellText("/home/p/My 'Games'", "Quenmor", true, 4242),
        "#!/bin/sh\n" + ending +
            "rm -f '/home/p/My '\\''Games'\\''/files.lst'\n"
            "mv -f '/home/p/My '\\''Games'\\''/Quenmor.New' '/home/p/My '\\''Games'\\''/Quenmor'\n"
            "chmod +x '/home/p/My '\\''Games'\\''/Quenmor'\n"
            "cd '/home/p/My '\\''Games'\\''' && setsid '/home/p/My '\\''Games'\\''/Quenmor' "
            "</dev/null >/dev/null 2>&1 &\n"
            "rm -f '/home/p/My '\\''Games'\\''/Update.sh'\n");
    EXPECT_EQ(UpdateShellText("/g", "Quenmor", false, 4242),
              "#!/bin/sh\n" + ending +
                  "cd '/g' && setsid '/g/Quenmor' </dev/null >/dev/null 2>&1 &\n"
                  "rm -f '/g/Update.sh'\n");
}

TEST(UpdateScript, WrittenIntoTheCurrentFolderWithTheMoveOnlyWhenANewBuildExists) {
    TempDir dir;
    testing_support::ScopedCurrentDir cwd(dir.path());
    const auto expected = [&](bool newBuild) {
        const std::string folder = platform::PathText(dir.path());
        return platform::kUpdateScriptIsBatch ? UpdateBatchText(folder, "Quenmor", newBuild, 99)
                                              : UpdateShellText(folder, "Quenmor", newBuild, 99);
    };
    const std::string script = WriteUpdateScript("Quenmor", 99);
    EXPECT_EQ(script, dir / platform::kUpdateScriptName);
    EXPECT_EQ(testing_support::ReadFile(script), expected(false));
    WriteFile(dir / "Quenmor.New", "new build");
    WriteUpdateScript("Quenmor", 99);
    EXPECT_EQ(testing_support::ReadFile(script), expected(true));
}

TEST(SplitCommandLine, TakesTheShortestPrefixThatNamesAFile) {
    TempDir dir;
    WriteFile(dir / "My Games/system/game.exe", "");
    WriteFile(dir / "My Games/system/game.exe -window/x", ""); // a folder, not a program
    const std::string game = dir / "My Games/system/game.exe";
    CommandLine line = SplitCommandLine(game + " -window  -lang ru");
    EXPECT_EQ(line.program, game);
    EXPECT_EQ(line.arguments, (std::vector<std::string>{"-window", "-lang", "ru"}));
    line = SplitCommandLine(game);
    EXPECT_EQ(line.program, game);
    EXPECT_TRUE(line.arguments.empty());
    line = SplitCommandLine(dir / "missing.exe -x");
    EXPECT_EQ(line.program, dir / "missing.exe -x");
    EXPECT_TRUE(line.arguments.empty());
}

TEST(StrToBool, NumbersTrueAndFalseInAnyCase) {
    EXPECT_TRUE(StrToBool("1"));
    EXPECT_TRUE(StrToBool("-5"));
    EXPECT_TRUE(StrToBool("$10"));
    EXPECT_FALSE(StrToBool("0"));
    EXPECT_TRUE(StrToBool("0.5"));
    EXPECT_FALSE(StrToBool("0.0"));
    EXPECT_TRUE(StrToBool("TRUE"));
    EXPECT_FALSE(StrToBool("False"));
    for (const char* bad : {"", "yes", "on", " true", "truee", "inf", "nan", "1e"}) {
        try {
            StrToBool(bad);
            ADD_FAILURE() << "accepted '" << bad << "'";
        } catch (const EConvertError& e) {
            EXPECT_EQ(std::string(e.what()),
                      "'" + std::string(bad) + "' is not a valid boolean value");
        }
    }
}
