#include "Errors.h"
#include "Misc.h"
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
            EXPECT_EQ(std::string(e.what()), "'" + std::string(bad) + "' is not a valid integer value");
        }
    }
}

TEST(IsSafeRelativePath, AcceptsPlainRelativePaths) {
    for (const char* good : {"a", "system\\zentyr.exe", "data/maps/x.map", "Мир\\карта.dat",
                             "file.bz2", "..name", "a..b\\c", "with space.txt"})
        EXPECT_TRUE(IsSafeRelativePath(good)) << good;
}

TEST(IsSafeRelativePath, RefusesPathsThatCouldLeaveTheInstallation) {
    for (const char* bad : {"", "\\abs", "/abs", "C:\\x", "c:x", "\\\\server\\share\\x", "..\\x",
                            "a\\..\\..\\x", ".\\x", "a\\.", "a\\", "a\\\\b", "a/../x",
                            "nul:", "a\tb", "a\x01"})
        EXPECT_FALSE(IsSafeRelativePath(bad)) << bad;
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
    TempDir dir;
    WriteFile(dir / "elsewhere/precious.txt", "x");
    std::filesystem::create_directory_symlink(dir / "elsewhere", dir / "backup");
    EXPECT_TRUE(DeleteFolder(dir / "backup"));
    EXPECT_TRUE(Exists(dir / "elsewhere/precious.txt"));
}
