#include "LstFile.h"
#include "Errors.h"
#include "Misc.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

using testing_support::TempDir;
using testing_support::WriteFile;
using Lines = std::vector<std::string>;

namespace {

class LstFileTest : public ::testing::Test {
protected:
    TListFile Manifest(const std::string& text) {
        WriteFile(dir_ / "files.lst", text);
        return TListFile(dir_ / "files.lst");
    }
    TempDir dir_;
};

} // namespace

TEST_F(LstFileTest, SectionOpeningLineIsStrippedButCaseSensitive) {
    const auto list = Manifest("  [files_normal] \t\r\na|b|c\r\n[/files_normal]\r\n"
                               "[Self]\r\nx|y|z\r\n[/Self]\r\n");
    EXPECT_EQ(list.GetSection("files_normal"), (Lines{"a|b|c"}));
    EXPECT_EQ(list.GetSection("self"), (Lines{"FAIL"}));
}

TEST_F(LstFileTest, OnlyTheFirstSectionOfANameCounts) {
    const auto list = Manifest("[s]\na\n[/s]\n[s]\nb\n[/s]\n");
    EXPECT_EQ(list.GetSection("s"), (Lines{"a"}));
}

TEST_F(LstFileTest, EmptyAndMissingSectionsGiveTheFailMarker) {
    const auto list = Manifest("[empty]\r\n\r\n   \r\n[/empty]\r\n");
    EXPECT_EQ(list.GetSection("empty"), (Lines{"FAIL"}));
    EXPECT_EQ(list.GetSection("missing"), (Lines{"FAIL"}));
}

TEST_F(LstFileTest, BlankLinesSkippedCommentsAndOtherBracketsAreEntries) {
    const auto list =
        Manifest("text before\n[s]\n\n# note\n  \t\n[other]\n x|y \n[/s]\ntext after\n");
    EXPECT_EQ(list.GetSection("s"), (Lines{"# note", "[other]", "x|y"}));
}

TEST_F(LstFileTest, LineEndingsControlCharactersAndCtrlZ) {
    // A lone CR is dropped, CR LF and LF both end lines, Ctrl-Z ends the file.
    const auto list = Manifest("[s]\r\na\rb\r\nc\n\x01\x02 d \x03\n[/s]\x1a\n[t]\nx\n[/t]\n");
    EXPECT_EQ(list.GetSection("s"), (Lines{"ab", "c", "d"}));
    EXPECT_EQ(list.GetSection("t"), (Lines{"FAIL"}));
}

TEST_F(LstFileTest, EightBitTextPassesUnchanged) {
    const auto list = Manifest("[s]\r\n\xea\xe0\xf0\xf2\xe0.dat|d|1\r\n[/s]\r\n");
    EXPECT_EQ(list.GetSection("s"), (Lines{"\xea\xe0\xf0\xf2\xe0.dat|d|1"}));
}

TEST_F(LstFileTest, SectionLeftOpenGivesTheLinesItHas) {
    const auto list = Manifest("[s]\na\nb\n");
    EXPECT_EQ(list.GetSection("s"), (Lines{"a", "b"}));
}

TEST_F(LstFileTest, GetValueReadsFirstFieldAsKeyAndLastAsValue) {
    const auto list = Manifest("[settings]\r\nRev|15\r\nModHosts|0\r\nRev|16\r\nignored|Key|v\r\n"
                               "Alone\r\n[/settings]\r\n[other]\r\nLater|1\r\n[/other]\r\n");
    EXPECT_EQ(list.GetValue("settings", "Rev"), "15");
    EXPECT_EQ(list.GetValue("settings", "ModHosts"), "0");
    EXPECT_EQ(list.GetValue("settings", "ignored"), "v");
    EXPECT_EQ(list.GetValue("settings", "Key"), "");
    EXPECT_EQ(list.GetValue("settings", "Alone"), "Alone");
    EXPECT_EQ(list.GetValue("settings", "rev"), "");
    EXPECT_EQ(list.GetValue("settings", "Later"), "");
    EXPECT_EQ(list.GetValue("missing", "Rev"), "");
}

TEST_F(LstFileTest, FileEntryWithFourFieldsUsesTheLastThree) {
    const auto list = Manifest("[files_critical]\nextra|path\\a.txt|0123|77\n[/files_critical]\n");
    const Lines entry = SplitFromEnd(list.GetSection("files_critical").at(0), "|");
    ASSERT_EQ(entry.size(), 4u);
    EXPECT_EQ(entry[2], "path\\a.txt");
    EXPECT_EQ(entry[1], "0123");
    EXPECT_EQ(entry[0], "77");
}

TEST_F(LstFileTest, MissingManifestIsAnInputOutputErrorOnLookupOnly) {
    const TListFile list(dir_ / "absent.lst"); // making the reader does not open it
    EXPECT_THROW(list.GetSection("s"), EInOutError);
    EXPECT_THROW(list.GetValue("settings", "Rev"), EInOutError);
}

TEST_F(LstFileTest, EveryLookupReadsTheFileAnew) {
    const auto list = Manifest("[settings]\nRev|1\n[/settings]\n");
    EXPECT_EQ(list.GetValue("settings", "Rev"), "1");
    WriteFile(dir_ / "files.lst", "[settings]\nRev|2\n[/settings]\n");
    EXPECT_EQ(list.GetValue("settings", "Rev"), "2");
}
