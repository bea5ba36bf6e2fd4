// What quenmor-publish tells its operator: a dry run that writes nothing and
// says what the run then does, the listing and the check of a published tree,
// the files left out by --exclude, and the progress it prints on the way.
#include "CommandLine.h"
#include "PublishProgress.h"
#include "TestSupport.h"

#include "ProgressText.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

constexpr bool kWindows = platform::kPathSeparator == '\\';

struct Result {
    int code = 0;
    std::string out, err;
};

class PublishReportTest : public ::testing::Test {
protected:
    PublishReportTest() : source_(dir_.path() / "client"), out_(dir_.path() / "site") {
        fs::create_directories(source_);
    }

    void Put(const std::string& relative, const std::string& content) {
        WriteFile(platform::PathText(source_ / platform::FsPath(relative)), content);
    }

    Result Run(const std::vector<std::string>& arguments) const {
        std::ostringstream out, err;
        Result result;
        result.code = publish::RunCommandLine(arguments, out, err);
        result.out = out.str();
        result.err = err.str();
        return result;
    }
    Result Publish(const std::string& revision, std::vector<std::string> more = {}) const {
        std::vector<std::string> arguments = {platform::PathText(source_),
                                              platform::PathText(out_),
                                              "--rev",
                                              revision,
                                              "--jobs",
                                              "2"};
        arguments.insert(arguments.end(), more.begin(), more.end());
        return Run(arguments);
    }

    // The lines of a summary that name single changes.
    static std::vector<std::string> ChangeLines(const std::string& summary) {
        std::vector<std::string> lines;
        std::istringstream text(summary);
        for (std::string line; std::getline(text, line);)
            for (const char* kind :
                 {"  added ", "  changed ", "  removed ", "  moved ", "  section "})
                if (line.rfind(kind, 0) == 0)
                    lines.push_back(line);
        return lines;
    }

    // Everything in the folder that holds OUT, with contents.
    std::map<std::string, std::string> Everything() const { return Snapshot(dir_.path()); }

    TempDir dir_;
    fs::path source_;
    fs::path out_;
};

} // namespace

TEST_F(PublishReportTest, ADryRunWritesNothingAndTellsWhatTheRunThenDoes) {
    Put("data/keep.pak", "the same");
    Put("data/old.pak", "to be moved");
    Put("data/карта.pak", "first map");
    Put("data/gone.pak", "to be removed");
    Put("system/option.ini", "critical at first");
    ASSERT_EQ(Publish("1", {"--critical", "system/*"}).code, 0);

    fs::rename(source_ / "data" / "old.pak", source_ / "data" / "new.pak");
    Put("data/карта.pak", "second map");
    fs::remove(source_ / "data" / "gone.pak");
    Put("data/added.pak", "new");
    const std::map<std::string, std::string> before = Everything();

    // The same revision is refused alike, naming every file that differs.
    for (const bool dry : {true, false}) {
        const Result same =
            Publish("1", dry ? std::vector<std::string>{"--dry-run"} : std::vector<std::string>{});
        EXPECT_EQ(same.code, 2) << same.err;
        EXPECT_NE(same.err.find("6 files of files_normal differ from published revision 1:"),
                  std::string::npos)
            << same.err;
        for (const char* item :
             {"data/added.pak (added)", "data/new.pak (added)", "data/карта.pak (changed)",
              "system/option.ini (added)", "data/gone.pak (removed)", "data/old.pak (removed)",
              "--rev must be greater than 1"})
            EXPECT_NE(same.err.find(item), std::string::npos) << item << "\n" << same.err;
        EXPECT_EQ(Everything(), before);
    }

    // Moving the ini file to files_normal, too.
    const Result dry = Publish("2", {"--dry-run"});
    ASSERT_EQ(dry.code, 0) << dry.err;
    EXPECT_EQ(Everything(), before) << "a dry run wrote something";
    EXPECT_NE(dry.out.find("Dry run, nothing was written: publishing would make revision 2"),
              std::string::npos)
        << dry.out;
    EXPECT_NE(dry.out.find("Would replace revision 1."), std::string::npos) << dry.out;
    const std::vector<std::string> expected = {
        "  added    data/added.pak",
        "  changed  data/карта.pak",
        "  removed  data/gone.pak",
        "  moved    data/old.pak -> data/new.pak",
        "  section  system/option.ini: files_critical -> files_normal",
    };
    EXPECT_EQ(ChangeLines(dry.out), expected) << dry.out;

    const Result real = Publish("2");
    ASSERT_EQ(real.code, 0) << real.err;
    EXPECT_EQ(ChangeLines(real.out), expected) << real.out;
    EXPECT_NE(Everything(), before);

    // Nothing left to change.
    const Result again = Publish("2", {"--dry-run"});
    EXPECT_EQ(again.code, 0) << again.err;
    EXPECT_NE(again.out.find("Changes from revision 2: none."), std::string::npos) << again.out;
    EXPECT_NE(again.out.find("5 copies would be reused, 0 compressed"), std::string::npos)
        << again.out;
}

TEST_F(PublishReportTest, ARefusalNamesTheFirstFilesAndCountsTheRest) {
    Put("a.pak", "a");
    ASSERT_EQ(Publish("3").code, 0);
    for (int k = 0; k < 25; ++k)
        Put("more/" + std::to_string(100 + k) + ".pak", std::to_string(k));
    const Result result = Publish("3", {"--dry-run"});
    EXPECT_EQ(result.code, 2);
    EXPECT_NE(result.err.find("25 files of files_normal differ"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("more/119.pak (added)"), std::string::npos) << result.err;
    EXPECT_EQ(result.err.find("more/120.pak"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("... and 5 more"), std::string::npos) << result.err;
}

TEST_F(PublishReportTest, ListAndVerifyReadATreeAsLaunchersTakeIt) {
    Put("Quenmor", "launcher build");
    Put("system/option.ini", "[video]\r\n");
    Put("data/Текстуры/камень.dds", SampleData(300000, 7));
    Put("data/small.txt", "small");
    WriteFile(platform::PathText(dir_.path() / "hosts.txt"), "127.0.0.1 game.example.org\n");
    const std::string key = platform::PathText(dir_.path() / "key.pem");
    ASSERT_EQ(Run({"--keygen", key}).code, 0);
    ASSERT_EQ(
        Publish("7", {"--self", "Quenmor", "--critical", "system/*", "--mod-hosts", "1", "--hosts",
                      platform::PathText(dir_.path() / "hosts.txt"), "--sign", key})
            .code,
        0);
    const std::string out = platform::PathText(out_);

    const Result list = Run({"--list", out});
    ASSERT_EQ(list.code, 0) << list.err;
    for (const char* expected :
         {"Revision 7 of ", ", signed\n", "  Rev = 7\n", "  ModHosts = 1\n",
          "  Expires = ", "  127.0.0.1 game.example.org\n", "self\n  Quenmor\t14\t",
          "files_critical\n  system/option.ini\t9\t", "files_normal\n",
          "  data/Текстуры/камень.dds\t300000\t", "  data/small.txt\t5\t"})
        EXPECT_NE(list.out.find(expected), std::string::npos) << expected << "\n" << list.out;

    const Result good = Run({"--verify", out});
    ASSERT_EQ(good.code, 0) << good.err;
    EXPECT_NE(good.out.find("Verified revision 7 of " + out + ": 4 copies"), std::string::npos)
        << good.out;
    EXPECT_NE(good.out.find("the signature holds with the key "), std::string::npos) << good.out;

    // Each fault alone, named; the tree is put back after each.
    const fs::path copy = out_ / platform::FsPath("data/Текстуры/камень.dds.bz2");
    const std::string intact = ReadFile(platform::PathText(copy));
    const auto expectFault = [&](const std::string& named) {
        const Result bad = Run({"--verify", out, "--jobs", "3"});
        EXPECT_EQ(bad.code, 1) << bad.out;
        EXPECT_NE(bad.err.find(named), std::string::npos) << bad.err;
        EXPECT_EQ(bad.out, "");
    };
    std::string damaged = intact;
    damaged[damaged.size() / 2] = static_cast<char>(damaged[damaged.size() / 2] ^ 0x55);
    WriteFile(platform::PathText(copy), damaged);
    expectFault("\"data/Текстуры/камень.dds");
    WriteFile(platform::PathText(copy), intact + "x");
    expectFault("\"data/Текстуры/камень.dds.bz2\": the copy has " +
                std::to_string(intact.size() + 1) + " bytes, the manifest lists " +
                std::to_string(intact.size()));
    fs::remove(copy);
    expectFault("\"data/Текстуры/камень.dds.bz2\": the copy is missing");
    WriteFile(platform::PathText(copy), intact);

    // A signature over another manifest of the same key.
    const std::string signature = ReadFile(platform::PathText(out_ / "files.lst.bz2.sig"));
    ASSERT_EQ(Run({"--resign", out, "--sign", key, "--expires", "3"}).code, 0);
    ASSERT_EQ(Run({"--verify", out}).code, 0);
    WriteFile(platform::PathText(out_ / "files.lst.bz2.sig"), signature);
    expectFault("\"files.lst.bz2.sig\": the signature does not hold over files.lst.bz2");

    EXPECT_EQ(Run({"--list", platform::PathText(dir_.path())}).code, 2);
    EXPECT_EQ(Run({"--verify", out, "--rev", "3"}).code, 2);
}

TEST_F(PublishReportTest, ExcludeLeavesOutFilesAndFoldersAndWarnsOfPatternsThatMatchNothing) {
    Put("data/game.pak", "game");
    Put("data/debug.log", "log");
    Put("logs/2026-12-09.log", "log");
    Put("Quenmor", "launcher");
    if (!kWindows) // a link that would be refused, were its folder published
        fs::create_symlink(dir_.path() / "nowhere", source_ / "logs" / "broken");
    const Result result =
        Publish("1", {"--exclude", "logs", "--exclude", "**/*.log", "--exclude", "cache/**"});
    ASSERT_EQ(result.code, 0) << result.err;
    EXPECT_NE(result.out.find("Left out by --exclude: 2 entries:\n  \"data/debug.log\"\n  "
                              "\"logs/\"\n"),
              std::string::npos)
        << result.out;
    EXPECT_NE(result.err.find("warning: The --exclude pattern \"cache/**\" matches nothing"),
              std::string::npos)
        << result.err;
    const std::map<std::string, std::string> tree = Snapshot(out_);
    EXPECT_TRUE(tree.count("data/game.pak.bz2"));
    EXPECT_FALSE(tree.count("data/debug.log.bz2"));
    EXPECT_FALSE(tree.count("logs/2026-12-09.log.bz2"));

    const Result self =
        Publish("2", {"--self", "Quenmor", "--exclude", "Quen*", "--exclude", "logs"});
    EXPECT_EQ(self.code, 2);
    EXPECT_NE(self.err.find("The launcher build \"Quenmor\" is left out by --exclude"),
              std::string::npos)
        << self.err;
    EXPECT_EQ(Publish("2", {"--exclude", "bad\\pattern"}).code, 2);
}

TEST(PublishProgressTest, BytesTimeLeftAndALineEveryFewSecondsOffATerminal) {
    EXPECT_EQ(progress::Duration(0), "0:00");
    EXPECT_EQ(progress::Duration(6.2), "0:07");
    EXPECT_EQ(progress::Duration(754), "12:34");
    EXPECT_EQ(progress::Duration(3723), "1:02:03");
    EXPECT_EQ(progress::BinaryBytes(1023), "1023 bytes");
    EXPECT_EQ(progress::BinaryBytes(70254592), "67.0 MiB");

    // The rate of the last seconds only, and a count that falls starts anew.
    using namespace std::chrono_literals;
    progress::RateWindow rate(5s);
    const auto start = progress::RateWindow::Clock::time_point{} + 1h;
    rate.Add(start, 0);
    EXPECT_EQ(rate.SecondsFor(100), -1);
    for (int k = 1; k <= 10; ++k) // 1 MB/s for ten seconds, then 4 MB/s
        rate.Add(start + k * 1s, static_cast<std::uint64_t>(k) * 1000000);
    for (int k = 11; k <= 16; ++k)
        rate.Add(start + k * 1s, 10000000 + static_cast<std::uint64_t>(k - 10) * 4000000);
    EXPECT_NEAR(rate.Rate(), 4e6, 1e3);
    EXPECT_NEAR(rate.SecondsFor(8000000), 2.0, 0.01);
    rate.Add(start + 17s, 5);
    EXPECT_EQ(rate.Rate(), 0);

    publish::Progress step;
    step.total = 4;
    step.bytesTotal = 4 << 20;
    std::ostringstream lines;
    publish::ProgressPrinter plain(lines, publish::ProgressPrinter::Style::Lines, "published", 0ms);
    step.bytesDone = 1 << 20;
    step.done = 1;
    plain.Show(step);
    EXPECT_EQ(lines.str(), "quenmor-publish: published 1.0 MiB of 4.0 MiB (25 %), 1 of 4 files\n");
    std::ostringstream quiet;
    publish::ProgressPrinter rare(quiet, publish::ProgressPrinter::Style::Lines, "published", 1h);
    rare.Show(step);
    EXPECT_EQ(quiet.str(), "");

    std::ostringstream terminal;
    publish::ProgressPrinter live(terminal, publish::ProgressPrinter::Style::Terminal, "published");
    step.path = "data/a.pak";
    live.Show(step);
    EXPECT_TRUE(live.Standing());
    live.End();
    EXPECT_EQ(terminal.str(),
              "\r\033[K1.0 MiB of 4.0 MiB (25 %), 1 of 4 files  data/a.pak\r\033[K");
}
