// Hosts maintenance on a hosts file in a temporary folder.
#include "HostsFile.h"
#include "Misc.h"
#include "Process.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace testing_support;
namespace fs = std::filesystem;
using Events = std::vector<std::string>;

namespace {

const std::string kApplying = "ShowStatus:Приминение изминений к хостам";
const std::string kChanged = "ShowStatus:Файлы хоста изменены";
const std::string kOpen = "#-------- Added by Quenmor --------\n";
const std::string kClose = "#-----------------\n";
// Windows has no symbolic links that a player can make.
constexpr bool kLinks = platform::kPathSeparator == '/';

// A rewritten file with its lines ended as this system ends them (CR LF on
// Windows) read back with LF, so that one expectation serves every system.
std::string Written(const std::string& path) {
    const std::string text = ReadFile(path);
    return ReplaceText(text, platform::kLineEnding, "\n");
}

class HostsTest : public ::testing::Test {
protected:
    HostsTest() : notifier_(target_) {}

    bool Update(const Events& entries) {
        return UpdateHosts(notifier_, dir_.path().string(), entries);
    }
    std::string Apply(const std::string& hosts, const Events& entries) {
        WriteFile(dir_ / "hosts", hosts);
        Update(entries);
        return Written(dir_ / "hosts");
    }

    TempDir dir_;
    RecordingTarget target_;
    TNotifier notifier_;
};

} // namespace

TEST_F(HostsTest, MappingPresentWithTabOrBlankWritesNothing) {
    for (const std::string hosts :
         {"127.0.0.1 localhost\r\n  10.1.2.3\tlogin.quenmor.example  \r\n",
          "10.1.2.3 login.quenmor.example\n"}) {
        Apply(hosts, {"10.1.2.3|login.quenmor.example"});
        EXPECT_EQ(ReadFile(dir_ / "hosts"), hosts);
        EXPECT_TRUE(target_.Events().empty());
    }
}

TEST_F(HostsTest, OtherAddressIsCommentedAndTheMappingAppended) {
    const std::string result = Apply("127.0.0.1 localhost\n9.9.9.9 login.quenmor.example\n",
                                     {"10.1.2.3|login.quenmor.example"});
    EXPECT_EQ(result, "127.0.0.1 localhost\n#9.9.9.9 login.quenmor.example\n" + kOpen +
                          "10.1.2.3\tlogin.quenmor.example\n" + kClose);
    EXPECT_EQ(ReadFile(dir_ / "hosts"), ReplaceText(result, "\n", platform::kLineEnding));
    EXPECT_EQ(target_.Events(), (Events{kApplying, kChanged}));
}

TEST_F(HostsTest, MappingOnlyInACommentIsAddedAndTheCommentKept) {
    EXPECT_EQ(Apply("# 10.1.2.3 login.quenmor.example\n", {"10.1.2.3|login.quenmor.example"}),
              "# 10.1.2.3 login.quenmor.example\n" + kOpen + "10.1.2.3\tlogin.quenmor.example\n" +
                  kClose);
}

TEST_F(HostsTest, OneOfTwoPresentAddsOneLineAndStripsEveryLine) {
    const std::string result = Apply("  127.0.0.1   localhost  \r\n\r\n\t10.0.0.1 a.example\r\n",
                                     {"10.0.0.1|a.example", "10.0.0.2|b.example"});
    EXPECT_EQ(result, "127.0.0.1   localhost\n\n10.0.0.1 a.example\n" + kOpen +
                          "10.0.0.2\tb.example\n" + kClose);
}

TEST_F(HostsTest, HostsMsnBesideHostsWins) {
    WriteFile(dir_ / "hosts.msn", "");
    EXPECT_EQ(Apply("127.0.0.1 localhost\n", {"10.0.0.1|a.example"}), "127.0.0.1 localhost\n");
    EXPECT_EQ(Written(dir_ / "hosts.msn"), kOpen + "10.0.0.1\ta.example\n" + kClose);
}

TEST_F(HostsTest, SecondRunWithTheSameEntriesWritesNothing) {
    const std::string first =
        Apply("127.0.0.1 localhost\n", {"10.0.0.1|a.example", "::1|b.example"});
    const std::size_t before = target_.Events().size();
    Update({"10.0.0.1|a.example", "::1|b.example"});
    EXPECT_EQ(Written(dir_ / "hosts"), first);
    EXPECT_EQ(target_.Events().size(), before);
}

TEST_F(HostsTest, OnlyWholeNamesInAnyLetterCaseAndTheFirstWordAsAddressCount) {
    // A longer name that holds the entry's, and the name in a comment, are
    // other names; a name in other letters is the same one; an address that
    // merely ends like the entry's is another address.
    const std::string kept = "10.9.9.9 data.example\n10.0.0.1 x.example # a.example\n";
    EXPECT_EQ(Apply(kept + "10.9.9.9 A.EXAMPLE\n110.0.0.1\ta.example\n", {"10.0.0.1|a.example"}),
              kept + "#10.9.9.9 A.EXAMPLE\n#110.0.0.1\ta.example\n" + kOpen +
                  "10.0.0.1\ta.example\n" + kClose);
}

TEST_F(HostsTest, OtherAddressBeforeTheMappingIsCommentedWithNothingAdded) {
    // The system takes the first line of a name: the other address would win.
    EXPECT_EQ(Apply("9.9.9.9 a.example\n10.0.0.1 a.example\n", {"10.0.0.1|a.example"}),
              "#9.9.9.9 a.example\n10.0.0.1 a.example\n");
    EXPECT_EQ(target_.Events(), (Events{kApplying, kChanged}));
}

TEST_F(HostsTest, RunsAgainWriteNothingWhereEntriesShareALineOrAName) {
    // A line that maps one name elsewhere goes whole, so its other names are
    // mapped again; of two entries for one name the first counts.
    const Events entries = {"10.0.0.1|a.example", "10.0.0.2|b.example", "10.0.0.3|A.Example",
                            "10.0.0.2|ab.example"};
    const std::string first = Apply("10.0.0.1 a.example b.example\n", entries);
    EXPECT_EQ(first, "#10.0.0.1 a.example b.example\n" + kOpen +
                         "10.0.0.1\ta.example\n10.0.0.2\tb.example\n10.0.0.2\tab.example\n" +
                         kClose);
    EXPECT_TRUE(target_.HasCause("10.0.0.3|A.Example"))
        << ::testing::PrintToString(target_.Causes());
    Update(entries);
    EXPECT_EQ(Written(dir_ / "hosts"), first);
}

TEST_F(HostsTest, LinesAfterCtrlZAreKept) {
    // A Ctrl-Z is a control character like any other: stripped at the ends of
    // its line, and no end of the file.
    EXPECT_EQ(Apply("127.0.0.1 localhost\n\x1a\n10.9.9.9 tail.example\n", {"10.0.0.1|a.example"}),
              "127.0.0.1 localhost\n\n10.9.9.9 tail.example\n" + kOpen + "10.0.0.1\ta.example\n" +
                  kClose);
}

TEST_F(HostsTest, EntriesThatAreNotAnAddressAndAHostNameAreSkipped) {
    const std::string hosts = "127.0.0.1 localhost\n";
    EXPECT_EQ(Apply(hosts, {"FAIL", "10.0.0.1|evil.example\n127.0.0.1 bank.example",
                            "999.1.1.1|x.example", "10.0.0.1|a b", "10.0.0.1|#x",
                            std::string("10.0.0.1\0|nul.example", 21), "10.0.0.2|ok.example"}),
              hosts + kOpen + "10.0.0.2\tok.example\n" + kClose);
}

TEST_F(HostsTest, KeepsThePermissionBitsAndWritesThroughALink) {
    if (!kLinks)
        GTEST_SKIP() << "no symbolic links";
    fs::create_directory(dir_.path() / "real");
    WriteFile(dir_ / "real/hosts", "127.0.0.1 localhost\n");
    fs::permissions(dir_ / "real/hosts", fs::perms(0644));
    fs::create_symlink(dir_.path() / "real/hosts", dir_.path() / "hosts");
    Update({"10.0.0.1|a.example"});
    EXPECT_TRUE(fs::is_symlink(dir_.path() / "hosts"));
    EXPECT_EQ(ReadFile(dir_ / "real/hosts"),
              "127.0.0.1 localhost\n" + kOpen + "10.0.0.1\ta.example\n" + kClose);
    EXPECT_EQ(fs::status(dir_ / "real/hosts").permissions() & fs::perms::mask, fs::perms(0644));
}

TEST_F(HostsTest, FileThatCannotBeReplacedStaysAsItWas) {
    if (!kLinks)
        GTEST_SKIP() << "no symbolic links, no /proc";
    // A file of the process file system can be read but nothing can be created
    // beside it, not even by the superuser.
    fs::create_symlink("/proc/self/comm", dir_.path() / "hosts");
    const std::string before = ReadFile("/proc/self/comm");
    Update({"10.0.0.1|a.example"});
    EXPECT_EQ(ReadFile("/proc/self/comm"), before);
    EXPECT_EQ(target_.Events(), Events{});
}
