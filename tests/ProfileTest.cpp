// Settings files: reading and writing real files in a temporary folder.
#include "Profile.h"
#include "Errors.h"
#include "Files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using platform::GetProfileString;
using platform::WriteProfileString;

namespace {

// On Windows these functions are the system's own. It rewrites a file its
// own way (blank lines and blanks around names go, every line ends with
// CR LF) and in place. Where a test pins down the bytes that our module
// writes, the Windows run checks instead that the system reads the same
// values from what it wrote as from those bytes.
constexpr bool kSystemProfile = platform::kPathSeparator == '\\';

// A fresh folder under the system's temporary folder, removed afterwards.
class ProfileFolder : public testing::Test {
protected:
    void SetUp() override {
        std::random_device random;
        for (int attempt = 0; attempt < 100 && folder_.empty(); ++attempt) {
            const fs::path candidate =
                fs::temp_directory_path() / ("quenmor-profile-" + std::to_string(random()));
            if (fs::create_directory(candidate))
                folder_ = candidate;
        }
        ASSERT_FALSE(folder_.empty());
    }

    void TearDown() override {
        if (folder_.empty())
            return;
        // Give back write permission so that everything can be removed.
        std::error_code error;
        for (const auto& entry : fs::recursive_directory_iterator(folder_, error))
            if (!entry.is_symlink())
                fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, error);
        fs::remove_all(folder_, error);
    }

    std::string Path(const std::string& name) const { return (folder_ / name).string(); }

    std::string Make(const std::string& name, const std::string& content) const {
        const std::string path = Path(name);
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << content;
        out.close();
        EXPECT_TRUE(out) << path;
        return path;
    }

    static std::string Contents(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    // The names in the folder, to see that no temporary file is left behind.
    static std::vector<std::string> Names(const fs::path& folder) {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    // Expects the file to hold `expected` (see kSystemProfile).
    static void ExpectWritten(const std::string& path, const std::string& expected) {
        if (!kSystemProfile) {
            EXPECT_EQ(Contents(path), expected);
            return;
        }
        // Beside the file, in this test's own folder: tests run side by side.
        const fs::path other = fs::path(path).parent_path() / "expected-profile.ini";
        std::ofstream(other, std::ios::binary) << expected;
        std::string section;
        std::size_t start = 0;
        while (start < expected.size()) {
            std::size_t end = expected.find('\n', start);
            if (end == std::string::npos)
                end = expected.size();
            std::string line = expected.substr(start, end - start);
            start = end + 1;
            line.erase(0, line.find_first_not_of(" \t"));
            line.erase(line.find_last_not_of(" \t\r") + 1);
            if (!line.empty() && line.front() == '[') {
                section = line.substr(1, line.find(']') - 1);
            } else if (line.find('=') != std::string::npos && line.front() != ';') {
                std::string key = line.substr(0, line.find('='));
                key.erase(key.find_last_not_of(" \t") + 1);
                EXPECT_EQ(GetProfileString(path, section, key, "(none)"),
                          GetProfileString(other.string(), section, key, "(none)"))
                    << "[" << section << "] " << key;
            }
        }
        fs::remove(other);
    }

    // Expects the write to be refused with the player's message.
    static void ExpectRefused(const std::string& path, std::string_view section,
                              std::string_view key, std::string_view value) {
        try {
            WriteProfileString(path, section, key, value);
            ADD_FAILURE() << "the write to " << path << " was not refused";
        } catch (const EInOutError& e) {
            EXPECT_EQ(std::string(e.what()), "Unable to write to " + path);
        }
    }

    fs::path folder_;
};

using ProfileRead = ProfileFolder;
using ProfileWrite = ProfileFolder;
using ProfileWriteRefused = ProfileFolder;
using ProfileSymlink = ProfileFolder;

// --- Reading ---------------------------------------------------------------

TEST_F(ProfileRead, SectionAndKeyNamesIgnoreCase) {
    const std::string path = Make("Quenmor.ini", "[Main]\r\nLanguage=ru\r\n");
    EXPECT_EQ(GetProfileString(path, "MAIN", "language", "x"), "ru");
    EXPECT_EQ(GetProfileString(path, "main", "LANGUAGE", "x"), "ru");
}

TEST_F(ProfileRead, BlanksAroundNamesAndValuesDoNotCount) {
    const std::string path = Make("a.ini", "  [ main ]\t\n\t key \t=  two  inner  blanks \t\n");
    EXPECT_EQ(GetProfileString(path, "main", "key", "x"), "two  inner  blanks");
    EXPECT_EQ(GetProfileString(path, " main\t", "\tkey ", "x"), "two  inner  blanks");
}

TEST_F(ProfileRead, MatchingQuotesAreRemoved) {
    const std::string path = Make("a.ini", "[main]\n"
                                           "double=\"  padded  \"\n"
                                           "single='it'\n"
                                           "mixed=\"it'\n"
                                           "lone=\"\n"
                                           "empty=\"\"\n"
                                           "inner=a \"b\" c\n");
    EXPECT_EQ(GetProfileString(path, "main", "double", "x"), "  padded  ");
    EXPECT_EQ(GetProfileString(path, "main", "single", "x"), "it");
    EXPECT_EQ(GetProfileString(path, "main", "mixed", "x"), "\"it'");
    EXPECT_EQ(GetProfileString(path, "main", "lone", "x"), "\"");
    EXPECT_EQ(GetProfileString(path, "main", "empty", "x"), "");
    EXPECT_EQ(GetProfileString(path, "main", "inner", "x"), "a \"b\" c");
}

TEST_F(ProfileRead, FirstSectionAndFirstKeyWin) {
    const std::string path = Make("a.ini", "k=before\n"
                                           "[main]\n"
                                           "k=first\n"
                                           "K=second\n"
                                           "[other]\n"
                                           "only=other\n"
                                           "[MAIN]\n"
                                           "k=third\n"
                                           "late=x\n");
    EXPECT_EQ(GetProfileString(path, "main", "k", "d"), "first");
    // Keys of a later section of the same name, of another section and of the
    // lines before the first section do not count.
    EXPECT_EQ(GetProfileString(path, "main", "late", "d"), "d");
    EXPECT_EQ(GetProfileString(path, "main", "only", "d"), "d");
    EXPECT_EQ(GetProfileString(path, "other", "k", "d"), "d");
}

TEST_F(ProfileRead, LongValuesAreCutTo2047Characters) {
    const std::string exact(2047, 'e');
    const std::string path = Make("a.ini", "[main]\n"
                                           "long=" +
                                               std::string(1000, 'a') + std::string(2000, 'b') +
                                               "\n"
                                               "exact=" +
                                               exact +
                                               "\n"
                                               "quoted=\"" +
                                               exact + "\"\n");
    EXPECT_EQ(GetProfileString(path, "main", "long", ""),
              std::string(1000, 'a') + std::string(1047, 'b'));
    EXPECT_EQ(GetProfileString(path, "main", "exact", ""), exact);
    // The quotes come off before the value is cut (Wine's own functions cut
    // first, then take the opening quote off).
    if (!kSystemProfile) {
        EXPECT_EQ(GetProfileString(path, "main", "quoted", ""), exact);
    }
}

TEST_F(ProfileRead, MissingGivesDefaultPresentEmptyGivesEmpty) {
    EXPECT_EQ(GetProfileString(Path("missing.ini"), "main", "k", "default"), "default");
    EXPECT_EQ(GetProfileString(Path("no-folder/a.ini"), "main", "k", "default"), "default");
    const std::string path = Make("a.ini", "[main]\nempty=\nblank=  \t\nbare\n");
    EXPECT_EQ(GetProfileString(path, "main", "empty", "default"), "");
    EXPECT_EQ(GetProfileString(path, "main", "blank", "default"), "");
    // A line without "=" is not a key.
    EXPECT_EQ(GetProfileString(path, "main", "bare", "default"), "default");
    EXPECT_EQ(GetProfileString(path, "main", "absent", "default"), "default");
    EXPECT_EQ(GetProfileString(path, "absent", "empty", "default"), "default");
    EXPECT_EQ(GetProfileString(Make("empty.ini", ""), "main", "k", "default"), "default");
}

TEST_F(ProfileRead, CrLfAndLfLineEndings) {
    const std::string path =
        Make("a.ini", "[main]\r\nplain=1\r\nquoted=\"q\"\r\nempty=\r\n[lf]\nx=2\nlast=3");
    EXPECT_EQ(GetProfileString(path, "main", "plain", "d"), "1");
    EXPECT_EQ(GetProfileString(path, "main", "quoted", "d"), "q");
    EXPECT_EQ(GetProfileString(path, "main", "empty", "d"), "");
    EXPECT_EQ(GetProfileString(path, "lf", "x", "d"), "2");
    EXPECT_EQ(GetProfileString(path, "lf", "last", "d"), "3");
}

TEST_F(ProfileRead, EightBitBytesPassThrough) {
    // "Привет" and a section name in Windows-1251.
    const std::string hello = "\xCF\xF0\xE8\xE2\xE5\xF2";
    const std::string path = Make("option.ini", "[\xD0\xE0\xE7\xED\xEE\xE5]\r\nname=" + hello +
                                                    "\r\n[main]\r\nnick=" + hello + " \xB9 1\r\n");
    EXPECT_EQ(GetProfileString(path, "\xD0\xE0\xE7\xED\xEE\xE5", "name", ""), hello);
    EXPECT_EQ(GetProfileString(path, "main", "nick", ""), hello + " \xB9 1");
}

TEST_F(ProfileRead, ByteOrderMarkIsSkipped) {
    const std::string path = Make("a.ini", "\xEF\xBB\xBF[main]\r\nk=v\r\n");
    EXPECT_EQ(GetProfileString(path, "main", "k", "d"), "v");
}

// Three rarer kinds of file, read as the system's own functions read them
// (the Windows run of these tests checks that).
TEST_F(ProfileRead, LoneCrCtrlZAndTheNamelessSection) {
    // A CR alone ends a line, as LF and CR LF do.
    const std::string cr = Make("cr.ini", "[a]\rk=v\rj=w\r\r\n[b]\rk=x\n\rl=y\r");
    EXPECT_EQ(GetProfileString(cr, "a", "k", "d"), "v");
    EXPECT_EQ(GetProfileString(cr, "a", "j", "d"), "w");
    EXPECT_EQ(GetProfileString(cr, "b", "k", "d"), "x");
    EXPECT_EQ(GetProfileString(cr, "b", "l", "d"), "y");

    // Ctrl-Z is a blank: around names and values it does not count, inside a
    // value it stays, and the file goes on after it.
    const std::string z = Make("z.ini", "[a\x1A]\x1A\r\nk=v\x1A\r\n\x1Aj\x1A=\x1Aw\r\n"
                                        "m=v\x1Az\r\n\x1A[b]\r\nk=x\r\n\x1A");
    EXPECT_EQ(GetProfileString(z, "a", "k", "d"), "v");
    EXPECT_EQ(GetProfileString(z, "a", "j", "d"), "w");
    EXPECT_EQ(GetProfileString(z, "a", "m", "d"), "v\x1Az");
    EXPECT_EQ(GetProfileString(z, "b", "k", "d"), "x");

    // The empty name is the lines before the first section; "[]" and "[ ]"
    // start sections that it never finds.
    const std::string top =
        Make("top.ini", "k=top\r\n[]\r\nk=v\r\nj=w\r\n[ ]\r\nk2=w\r\n[a]\r\nk=x\r\n");
    EXPECT_EQ(GetProfileString(top, "", "k", "d"), "top");
    EXPECT_EQ(GetProfileString(top, "", "j", "d"), "d");
    EXPECT_EQ(GetProfileString(top, "", "k2", "d"), "d");
    EXPECT_EQ(GetProfileString(top, " ", "k2", "d"), "d");
    EXPECT_EQ(GetProfileString(top, "a", "k", "d"), "x");
    EXPECT_EQ(GetProfileString(Make("empty.ini", "[]\r\nk=v\r\n"), "", "k", "d"), "d");
}

// --- Writing ---------------------------------------------------------------

TEST_F(ProfileWrite, NewFileIsCreatedWithCrLf) {
    const std::string path = Path("Quenmor.ini");
    WriteProfileString(path, "main", "Language", "ru");
    EXPECT_EQ(Contents(path), "[main]\r\nLanguage=ru\r\n");
    WriteProfileString(path, "main", "Server", "1");
    WriteProfileString(path, "other", "k", "v");
    EXPECT_EQ(Contents(path), "[main]\r\nLanguage=ru\r\nServer=1\r\n[other]\r\nk=v\r\n");
    EXPECT_EQ(Names(folder_), std::vector<std::string>{"Quenmor.ini"});
}

TEST_F(ProfileWrite, OnlyTheKeyLineChanges) {
    const std::string before = "; settings\r\n"
                               "[main]\r\n"
                               "Unknown = x \r\n"
                               "  Volume = 10 \r\n"
                               "volume=duplicate\r\n"
                               "name=\xCF\xF0\xE8\xE2\xE5\xF2\r\n"
                               "\r\n"
                               "[other]\r\n"
                               "Volume=other\r\n";
    const std::string path = Make("option.ini", before);
    WriteProfileString(path, "MAIN", "volume", "75");
    // The file's spelling of the key stays; nothing else moves.
    ExpectWritten(path, "; settings\r\n"
                        "[main]\r\n"
                        "Unknown = x \r\n"
                        "Volume=75\r\n"
                        "volume=duplicate\r\n"
                        "name=\xCF\xF0\xE8\xE2\xE5\xF2\r\n"
                        "\r\n"
                        "[other]\r\n"
                        "Volume=other\r\n");
    EXPECT_EQ(GetProfileString(path, "main", "volume", ""), "75");
    EXPECT_EQ(GetProfileString(path, "other", "volume", ""), "other");
}

TEST_F(ProfileWrite, KeyIsAddedAtTheEndOfItsSection) {
    const std::string path = Make("a.ini", "[main]\r\n"
                                           "a=1\r\n"
                                           "; note\r\n"
                                           "\r\n"
                                           " \t\r\n"
                                           "[other]\r\n"
                                           "b=2\r\n");
    WriteProfileString(path, "main", "k", "v");
    ExpectWritten(path, "[main]\r\n"
                        "a=1\r\n"
                        "; note\r\n"
                        "k=v\r\n"
                        "\r\n"
                        " \t\r\n"
                        "[other]\r\n"
                        "b=2\r\n");
    WriteProfileString(path, "other", "c", "3");
    if (kSystemProfile) {
        ExpectWritten(path, "[main]\r\na=1\r\nk=v\r\n[other]\r\nb=2\r\nc=3\r\n");
    } else {
        EXPECT_EQ(Contents(path).substr(Contents(path).find("[other]")),
                  "[other]\r\nb=2\r\nc=3\r\n");
    }
}

TEST_F(ProfileWrite, FirstSectionAndFirstKeyAreWritten) {
    const std::string path = Make("a.ini", "[main]\nk=1\nk=2\n[Main]\nk=3\nj=4\n");
    WriteProfileString(path, "main", "k", "x");
    WriteProfileString(path, "main", "j", "y");
    ExpectWritten(path, "[main]\nk=x\nk=2\nj=y\n[Main]\nk=3\nj=4\n");
}

TEST_F(ProfileWrite, LfFileGetsLfLines) {
    const std::string path = Make("a.ini", "[main]\na=1\n");
    WriteProfileString(path, "main", "b", "2");
    WriteProfileString(path, "new", "c", "3");
    ExpectWritten(path, "[main]\na=1\nb=2\n[new]\nc=3\n");
}

TEST_F(ProfileWrite, LoneCrFileAndTheNamelessSection) {
    // New lines of a file whose lines end with a CR alone end the same way.
    const std::string cr = Make("cr.ini", "[a]\rk=v\r");
    WriteProfileString(cr, "a", "k", "z");
    WriteProfileString(cr, "a", "j", "w");
    EXPECT_EQ(GetProfileString(cr, "a", "k", "d"), "z");
    EXPECT_EQ(GetProfileString(cr, "a", "j", "d"), "w");
    if (!kSystemProfile) {
        EXPECT_EQ(Contents(cr), "[a]\rk=z\rj=w\r");
    }

    // A key of the nameless section goes before the first section.
    const std::string top = Make("top.ini", "[a]\r\nk=v\r\n");
    WriteProfileString(top, "", "k", "new");
    WriteProfileString(top, "", "j", "2");
    WriteProfileString(top, "", "k", "newer");
    ExpectWritten(top, "k=newer\r\nj=2\r\n[a]\r\nk=v\r\n");
    EXPECT_EQ(GetProfileString(top, "a", "k", "d"), "v");

    // At the top of a file without a byte order mark, a key that begins with
    // one would be read as the file's mark and the rest.
    if (!kSystemProfile) {
        const std::string bom = "\xEF\xBB\xBFkey";
        const std::string plain = Make("plain.ini", "[a]\r\n");
        WriteProfileString(plain, "", bom, "1");
        EXPECT_EQ(GetProfileString(plain, "", bom, "d"), "1");
        EXPECT_EQ(GetProfileString(plain, "", "key", "d"), "d");
        const std::string marked = Make("marked.ini", "\xEF\xBB\xBF[a]\r\n");
        WriteProfileString(marked, "", bom, "2");
        ExpectWritten(marked, "\xEF\xBB\xBF" + bom + "=2\r\n[a]\r\n");
    }
}

TEST_F(ProfileWrite, FileWithoutFinalLineEnding) {
    const std::string path = Make("a.ini", "[main]\r\na=1");
    WriteProfileString(path, "other", "k", "v");
    ExpectWritten(path, "[main]\r\na=1\r\n[other]\r\nk=v\r\n");

    const std::string path2 = Make("b.ini", "[main]\na=1");
    WriteProfileString(path2, "main", "b", "2");
    ExpectWritten(path2, "[main]\na=1\nb=2");

    // Without any line ending yet, new lines end with CR LF.
    const std::string path3 = Make("c.ini", "[main]");
    WriteProfileString(path3, "main", "k", "v");
    ExpectWritten(path3, "[main]\r\nk=v");
    const std::string path4 = Make("d.ini", "");
    WriteProfileString(path4, "main", "k", "v");
    ExpectWritten(path4, "[main]\r\nk=v\r\n");
}

TEST_F(ProfileWrite, ValuesReadBackAsWritten) {
    const std::string path = Path("option.ini");
    const std::string hello = "\xCF\xF0\xE8\xE2\xE5\xF2";
    WriteProfileString(path, "main", "name", hello);
    WriteProfileString(path, "main", "padded", "\"  kept  \"");
    WriteProfileString(path, " main ", " trimmed ", "  value  ");
    WriteProfileString(path, "main", "empty", "");
    ExpectWritten(path, "[main]\r\nname=" + hello +
                            "\r\npadded=\"  kept  \"\r\ntrimmed=value\r\nempty=\r\n");
    EXPECT_EQ(GetProfileString(path, "main", "name", ""), hello);
    EXPECT_EQ(GetProfileString(path, "main", "padded", ""), "  kept  ");
    EXPECT_EQ(GetProfileString(path, "main", "trimmed", ""), "value");
    EXPECT_EQ(GetProfileString(path, "main", "empty", "default"), "");
}

TEST_F(ProfileWrite, ByteOrderMarkIsKept) {
    const std::string path = Make("a.ini", "\xEF\xBB\xBF[main]\r\nk=v\r\n");
    WriteProfileString(path, "main", "k", "w");
    ExpectWritten(path, "\xEF\xBB\xBF[main]\r\nk=w\r\n");
}

TEST_F(ProfileWrite, FileIsReplacedNotRewrittenInPlace) {
    if (kSystemProfile)
        GTEST_SKIP() << "the system rewrites the file in place";
    const std::string path = Make("a.ini", "[main]\nk=old\n");
    fs::permissions(path, fs::perms(0640), fs::perm_options::replace);
    // A reader that has the file open keeps seeing the old content.
    std::ifstream reader(path, std::ios::binary);
    WriteProfileString(path, "main", "k", "new");
    const std::string seen{std::istreambuf_iterator<char>(reader),
                           std::istreambuf_iterator<char>()};
    EXPECT_EQ(seen, "[main]\nk=old\n");
    EXPECT_EQ(Contents(path), "[main]\nk=new\n");
    EXPECT_EQ(fs::status(path).permissions(), fs::perms(0640));
    EXPECT_EQ(Names(folder_), std::vector<std::string>{"a.ini"});
}

// --- Refused writes --------------------------------------------------------

TEST_F(ProfileWriteRefused, ReadOnlyFileIsLeftAlone) {
    // No write permission for anyone: read-only also for the superuser.
    const std::string before = "[main]\r\nk=old\r\n";
    const std::string path = Make("option.ini", before);
    fs::permissions(path, fs::perms(0444), fs::perm_options::replace);
    ExpectRefused(path, "main", "k", "new");
    ExpectRefused(path, "main", "added", "1");
    EXPECT_EQ(Contents(path), before);
    EXPECT_EQ(fs::status(path).permissions(), fs::perms(0444));
    EXPECT_EQ(Names(folder_), std::vector<std::string>{"option.ini"});
}

TEST_F(ProfileWriteRefused, MissingFolder) {
    const std::string path = Path("system/option.ini");
    ExpectRefused(path, "main", "k", "v");
    EXPECT_FALSE(fs::exists(folder_ / "system"));
}

TEST_F(ProfileWriteRefused, FolderWithoutWritePermission) {
    const fs::path locked = folder_ / "locked";
    fs::create_directory(locked);
    const std::string path = Make("locked/a.ini", "[main]\nk=old\n");
    fs::permissions(locked, fs::perms(0555), fs::perm_options::replace);
    // The superuser may create files there anyway; then the folder cannot
    // refuse anything.
    if (std::ofstream(locked / "probe"))
        GTEST_SKIP() << "folder permissions are not enforced for this user";
    ExpectRefused(path, "main", "k", "new");
    EXPECT_EQ(Contents(path), "[main]\nk=old\n");
}

TEST_F(ProfileWriteRefused, NotARegularFile) {
    fs::create_directory(folder_ / "folder.ini");
    ExpectRefused(Path("folder.ini"), "main", "k", "v");
    EXPECT_TRUE(fs::is_directory(folder_ / "folder.ini"));
}

TEST_F(ProfileWriteRefused, TextsTheFormatCannotCarry) {
    const std::string before = "[main]\r\nk=old\r\n";
    const std::string path = Make("a.ini", before);
    ExpectRefused(path, "main", "k", "new\r\n[evil]");
    ExpectRefused(path, "main", "k", "line\nbreak");
    ExpectRefused(path, "ma\nin", "k", "v");
    ExpectRefused(path, "main", "a=b", "v");
    ExpectRefused(path, "main", "  ", "v");
    ExpectRefused(path, "main", "[x]", "v");
    EXPECT_EQ(Contents(path), before);
}

// --- Symbolic links --------------------------------------------------------

TEST_F(ProfileSymlink, WriteGoesThroughToTheTarget) {
    if (kSystemProfile)
        GTEST_SKIP() << "no symbolic links";
    fs::create_directory(folder_ / "real");
    const std::string target = Make("real/settings.ini", "[main]\r\nk=old\r\n");
    const fs::path link = folder_ / "Quenmor.ini";
    fs::create_symlink("real/settings.ini", link);

    WriteProfileString(link.string(), "main", "k", "new");
    ASSERT_TRUE(fs::is_symlink(fs::symlink_status(link)));
    EXPECT_EQ(fs::read_symlink(link), fs::path("real/settings.ini"));
    EXPECT_EQ(Contents(target), "[main]\r\nk=new\r\n");
    EXPECT_EQ(GetProfileString(link.string(), "main", "k", ""), "new");
    EXPECT_EQ(Names(folder_), (std::vector<std::string>{"Quenmor.ini", "real"}));
    EXPECT_EQ(Names(folder_ / "real"), std::vector<std::string>{"settings.ini"});
}

TEST_F(ProfileSymlink, LinkToALinkAndDanglingLink) {
    if (kSystemProfile)
        GTEST_SKIP() << "no symbolic links";
    fs::create_symlink("middle.ini", folder_ / "a.ini");
    fs::create_symlink(folder_ / "final.ini", folder_ / "middle.ini");
    WriteProfileString(Path("a.ini"), "main", "k", "v");
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(folder_ / "a.ini")));
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(folder_ / "middle.ini")));
    EXPECT_EQ(Contents(Path("final.ini")), "[main]\r\nk=v\r\n");
}

TEST_F(ProfileSymlink, LinkToReadOnlyFileIsRefused) {
    if (kSystemProfile)
        GTEST_SKIP() << "no symbolic links";
    const std::string target = Make("target.ini", "[main]\nk=old\n");
    fs::permissions(target, fs::perms(0444), fs::perm_options::replace);
    fs::create_symlink("target.ini", folder_ / "link.ini");
    ExpectRefused(Path("link.ini"), "main", "k", "new");
    EXPECT_EQ(Contents(target), "[main]\nk=old\n");
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(folder_ / "link.ini")));
}

TEST_F(ProfileSymlink, LinkLoopIsRefused) {
    if (kSystemProfile)
        GTEST_SKIP() << "no symbolic links";
    fs::create_symlink("b.ini", folder_ / "a.ini");
    fs::create_symlink("a.ini", folder_ / "b.ini");
    ExpectRefused(Path("a.ini"), "main", "k", "v");
}

} // namespace
