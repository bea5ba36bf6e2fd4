// quenmor-publish: the update tree it writes, the reuse of copies on the next
// run, the inputs it refuses without touching the published tree, and the
// launcher's own update run against a published tree.
#include "BZip2.h"
#include "CommandLine.h"
#include "GetFilesThr.h"
#include "GlobPattern.h"
#include "HostsList.h"
#include "LstFile.h"
#include "ManifestWriter.h"
#include "Misc.h"
#include "Publisher.h"
#include "Signature.h"
#include "Signing.h"
#include "TestHttpServer.h"
#include "TestSupport.h"
#include "Text.h"
#include "TreeScanner.h"
#include "md5.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

std::string Unbzip(const fs::path& path) {
    return Unbzip2File(platform::PathText(path));
}

std::int64_t Now() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::string Sha256Hex(const std::string& data) {
    TSHA256 digest;
    digest.Update(data.data(), data.size());
    return digest.FinalText();
}

// Names and files that a Windows file system cannot hold, and links, which
// need rights there that few have, are left out of the Windows runs.
constexpr bool kWindows = platform::kPathSeparator == '\\';

// The file system's number of a file: the same for two names of one file.
std::uint64_t Inode(const fs::path& path) {
#ifdef _WIN32
    const HANDLE file = ::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    BY_HANDLE_FILE_INFORMATION info{};
    EXPECT_TRUE(file != INVALID_HANDLE_VALUE && ::GetFileInformationByHandle(file, &info)) << path;
    ::CloseHandle(file);
    return (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
#else
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_ino;
#endif
}

class PublishTest : public ::testing::Test {
protected:
    PublishTest() : source_(dir_.path() / "client"), out_(dir_.path() / "site") {
        fs::create_directories(source_);
    }

    void Put(const std::string& relative, const std::string& content) {
        WriteFile(platform::PathText(source_ / platform::FsPath(relative)), content);
    }

    publish::Options Options(std::int32_t revision = 1) const {
        publish::Options options;
        options.source = source_;
        options.out = out_;
        options.revision = revision;
        options.jobs = 2;
        options.chunks = false; // the chunk store has tests of its own
        return options;
    }

    std::string Manifest() const { return Unbzip(out_ / "files.lst.bz2"); }

    // The manifest unpacked, for the launcher's own reader.
    TListFile ManifestFile() const {
        WriteFile((dir_.path() / "files.lst").string(), Manifest());
        return TListFile((dir_.path() / "files.lst").string());
    }

    // A file's line: content size, SHA-256, path, MD5, size of the copy.
    std::string Entry(const std::string& manifestPath, const std::string& relative,
                      const std::string& content) const {
        return std::to_string(content.size()) + "|" + Sha256Hex(content) + "|" + manifestPath +
               "|" + Md5Hex(content) + "|" +
               std::to_string(fs::file_size(out_ / platform::FsPath(relative + ".bz2")));
    }

    // The lines of the file sections, in order.
    std::vector<std::string> FileLines() const {
        std::vector<std::string> lines;
        for (const char* section : {"self", "files_critical", "files_normal"})
            for (const std::string& line : ManifestFile().GetSection(section))
                if (line != kEmptySection)
                    lines.push_back(line);
        return lines;
    }

    // Rewrites the published manifest with every file line cut to its last
    // `fields` fields, as older publishers wrote them.
    void CutFileLines(std::size_t fields) {
        std::string text = Manifest();
        for (const std::string& line : FileLines()) {
            std::size_t start = line.size();
            for (std::size_t k = 0; k < fields; ++k)
                start = line.rfind('|', start - 1);
            text = ReplaceText(text, "\n" + line + "\r\n", "\n" + line.substr(start + 1) + "\r\n");
        }
        WriteFile((out_ / "files.lst.bz2").string(), Bzip2(text));
    }

    // Folders that a run leaves beside the published tree.
    std::vector<std::string> Leftovers() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir_.path()))
            if (entry.path().filename().string().find(".quenmor-") != std::string::npos)
                names.push_back(entry.path().filename().string());
        return names;
    }

    TempDir dir_;
    fs::path source_;
    fs::path out_;
};

const std::string kTextures = "data/Текстуры/камень.dds";
const std::string kTexturesAnsi =
    "data\\\xD2\xE5\xEA\xF1\xF2\xF3\xF0\xFB\\\xEA\xE0\xEC\xE5\xED\xFC.dds";

} // namespace

// ---------------------------------------------------------------------------
// The tree written

TEST_F(PublishTest, WritesTheManifestAndCopiesTheLauncherReads) {
    const std::string game = SampleData(200'000, 1);
    const std::string texture = SampleData(50'000, 2);
    const std::string map = "map with a blank in its name\r\n";
    const std::string launcher = SampleData(10'000, 3);
    Put("bin/game.exe", game);
    Put(kTextures, texture);
    Put("data/maps/level 1.map", map);
    Put("empty.dat", "");
    Put("Launcher.exe", launcher);
    WriteFile(dir_ / "hosts", "# login servers\r\n127.0.0.1  login.example.com\r\n\r\n"
                              "::1\tlogin6.example.com # IPv6\n");

    publish::Options options = Options(42);
    options.modHosts = true;
    options.hostsFile = dir_.path() / "hosts";
    options.criticalPatterns = {"bin/*.exe", "Launcher.exe"};
    options.selfName = "Launcher.exe";
    const publish::Summary summary = publish::Publish(options);

    // The bytes: CR LF lines, "\" separators, Windows-1251 names, entries
    // sorted by path, the launcher build in "self" only.
    const std::string expected =
        "[settings]\r\nRev|42\r\nModHosts|1\r\n[/settings]\r\n"
        "[hosts]\r\n127.0.0.1|login.example.com\r\n::1|login6.example.com\r\n[/hosts]\r\n"
        "[self]\r\n" +
        Entry("Launcher.exe", "Launcher.exe", launcher) +
        "\r\n[/self]\r\n"
        "[files_critical]\r\n" +
        Entry("bin\\game.exe", "bin/game.exe", game) +
        "\r\n[/files_critical]\r\n"
        "[files_normal]\r\n" +
        Entry("data\\maps\\level 1.map", "data/maps/level 1.map", map) + "\r\n" +
        Entry(kTexturesAnsi, kTextures, texture) + "\r\n" + Entry("empty.dat", "empty.dat", "") +
        "\r\n[/files_normal]\r\n";
    EXPECT_EQ(Manifest(), expected);
    EXPECT_NE(
        Manifest().find("\n0|e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855|"
                        "empty.dat|d41d8cd98f00b204e9800998ecf8427e|"),
        std::string::npos);

    // The copies lie under their UTF-8 names and hold the content.
    const std::map<std::string, std::string> files = {{"Launcher.exe", launcher},
                                                      {"bin/game.exe", game},
                                                      {kTextures, texture},
                                                      {"data/maps/level 1.map", map},
                                                      {"empty.dat", ""}};
    for (const auto& [relative, content] : files)
        EXPECT_EQ(Unbzip(out_ / platform::FsPath(relative + ".bz2")), content) << relative;
    std::size_t count = 0;
    for (const auto& entry : fs::recursive_directory_iterator(out_))
        count += entry.is_regular_file() ? 1u : 0u;
    EXPECT_EQ(count, files.size() + 1);

    // What the launcher's reader makes of it, and where it would fetch from.
    const TListFile list = ManifestFile();
    EXPECT_EQ(list.GetValue("settings", "Rev"), "42");
    EXPECT_EQ(list.GetValue("settings", "ModHosts"), "1");
    const std::vector<std::string> normal = list.GetSection("files_normal");
    ASSERT_EQ(normal.size(), 3u);
    for (const std::string& line : normal) {
        const std::vector<std::string> fields = SplitFromEnd(line, "|");
        ASSERT_EQ(fields.size(), 5u);
        EXPECT_TRUE(IsSafeRelativePath(fields[2]));
        EXPECT_TRUE(IsSha256Text(fields[3]));
        EXPECT_TRUE(fs::is_regular_file(
            out_ / platform::FsPath(platform::ManifestPathToLocal(fields[2]) + ".bz2")));
    }

    EXPECT_EQ(summary.criticalFiles, 1u);
    EXPECT_EQ(summary.normalFiles, 3u);
    EXPECT_TRUE(summary.selfPublished);
    EXPECT_EQ(summary.compressedCopies, 5u);
    EXPECT_EQ(summary.reusedCopies, 0u);
    EXPECT_EQ(summary.contentBytes, game.size() + texture.size() + map.size() + launcher.size());
    EXPECT_FALSE(summary.previousRevision);
    EXPECT_TRUE(summary.warnings.empty());
    EXPECT_TRUE(Leftovers().empty());
}

TEST_F(PublishTest, SignedAndUnsignedTreesListFilesAlike) {
    Put("bin/game.exe", SampleData(70'000, 1));
    Put("data/a.txt", "a");
    publish::Options options = Options();
    options.criticalPatterns = {"bin/*"};
    publish::Publish(options);
    const std::vector<std::string> unsignedLines = FileLines();
    ASSERT_EQ(unsignedLines.size(), 2u);
    EXPECT_EQ(unsignedLines[0], Entry("bin\\game.exe", "bin/game.exe", SampleData(70'000, 1)));

    publish::GenerateKey(dir_.path() / "key.pem");
    options.signingKey = dir_.path() / "key.pem";
    publish::Publish(options);
    EXPECT_EQ(FileLines(), unsignedLines);
}

TEST_F(PublishTest, LeavesOutTheInstallationsSettingsFileAtTheTopOnly) {
    Put("data/Quenmor.ini", "an ordinary file below the top");
    Put("a.txt", "a");
    const std::string src = platform::PathText(source_), out = platform::PathText(out_);
    for (const std::string name : {"Quenmor.ini", "qUENMOR.ini"}) {
        SCOPED_TRACE(name);
        Put(name, "[main]\r\nUpdatesUrl=http://operator.example/\r\nAtRevision=7\r\n");
        std::ostringstream output, errors;
        ASSERT_EQ(publish::RunCommandLine({src, out, "--rev", "1"}, output, errors), 0)
            << errors.str();
        EXPECT_NE(output.str().find("\nLeft out " + name +
                                    ": every installation keeps its own settings file.\n"),
                  std::string::npos)
            << output.str();
        EXPECT_NE(output.str().find("2 files (0 critical, 2 normal)"), std::string::npos);
        EXPECT_FALSE(fs::exists(out_ / (name + ".bz2")));
        const std::vector<std::string> lines = FileLines();
        ASSERT_EQ(lines.size(), 2u);
        EXPECT_EQ(lines[1],
                  Entry("data\\Quenmor.ini", "data/Quenmor.ini", "an ordinary file below the top"));
        fs::remove(source_ / name);
    }
    publish::Options options = Options(1);
    options.selfName = "quenmor.ini";
    Put("quenmor.ini", "settings");
    EXPECT_THROW(publish::Publish(options), publish::EUsageError);
}

TEST_F(PublishTest, EmptySourceGivesEmptySections) {
    publish::Publish(Options(0));
    EXPECT_EQ(Manifest(),
              "[settings]\r\nRev|0\r\nModHosts|0\r\n[/settings]\r\n[hosts]\r\n[/hosts]\r\n"
              "[self]\r\n[/self]\r\n[files_critical]\r\n[/files_critical]\r\n"
              "[files_normal]\r\n[/files_normal]\r\n");
    EXPECT_EQ(ManifestFile().GetSection("files_normal"), std::vector<std::string>{kEmptySection});
}

TEST_F(PublishTest, FollowsLinksInsideSource) {
    if (kWindows)
        GTEST_SKIP() << "symbolic links";
    Put("real/a.txt", "a");
    fs::create_directory_symlink("real", source_ / "alias");
    fs::create_symlink("real/a.txt", source_ / "b.txt");
    publish::Publish(Options());
    EXPECT_EQ(Unbzip(out_ / "alias/a.txt.bz2"), "a");
    EXPECT_EQ(Unbzip(out_ / "b.txt.bz2"), "a");
    EXPECT_EQ(ManifestFile().GetSection("files_normal").size(), 3u);
}

TEST_F(PublishTest, SwapsTheTreeBehindALinkToIt) {
    if (kWindows)
        GTEST_SKIP() << "symbolic links";
    fs::create_directory(dir_.path() / "real-site");
    fs::create_directory_symlink("real-site", out_);
    Put("a.txt", "a");
    publish::Publish(Options());
    EXPECT_TRUE(fs::is_symlink(out_));
    EXPECT_EQ(Unbzip(dir_.path() / "real-site/a.txt.bz2"), "a");
}

// ---------------------------------------------------------------------------
// Publishing again

TEST_F(PublishTest, ReusesTheCopiesOfUnchangedFiles) {
    for (int i = 0; i < 8; ++i)
        Put("data/file" + std::to_string(i) + ".bin",
            SampleData(30'000, static_cast<std::uint32_t>(i)));
    Put("bin/game.exe", "version 1");
    publish::Options options = Options(1);
    options.criticalPatterns = {"bin/**"};
    publish::Publish(options);
    const std::uint64_t unchanged = Inode(out_ / "data/file3.bin.bz2");
    const std::uint64_t changed = Inode(out_ / "data/file5.bin.bz2");

    // Same size and modification time, other content: only the digest tells.
    const fs::path file5 = source_ / "data/file5.bin";
    const auto mtime = fs::last_write_time(file5);
    std::string content = SampleData(30'000, 5);
    content[100] = static_cast<char>(content[100] ^ 1);
    Put("data/file5.bin", content);
    fs::last_write_time(file5, mtime);
    // A newer time on unchanged content costs nothing.
    fs::last_write_time(source_ / "data/file3.bin", mtime + std::chrono::hours(1));

    options.revision = 2;
    const publish::Summary summary = publish::Publish(options);
    EXPECT_EQ(summary.reusedCopies, 8u);
    EXPECT_EQ(summary.compressedCopies, 1u);
    EXPECT_EQ(summary.previousRevision, 1);
    EXPECT_EQ(Inode(out_ / "data/file3.bin.bz2"), unchanged);
    EXPECT_NE(Inode(out_ / "data/file5.bin.bz2"), changed);
    EXPECT_EQ(Unbzip(out_ / "data/file5.bin.bz2"), content);
    EXPECT_EQ(ManifestFile().GetValue("settings", "Rev"), "2");
    EXPECT_NE(Manifest().find(Entry("data\\file5.bin", "data/file5.bin", content)),
              std::string::npos);
    EXPECT_TRUE(Leftovers().empty());
}

TEST_F(PublishTest, ReusesTheCopiesOfTreesWithOlderLines) {
    for (int i = 0; i < 4; ++i)
        Put("data/file" + std::to_string(i) + ".bin",
            SampleData(20'000, static_cast<std::uint32_t>(i)));
    publish::Publish(Options(1));
    const std::vector<std::string> lines = FileLines();

    // "path|md5|copysize", and "sha256|" in front of it as signed trees had.
    for (const std::size_t fields : {3u, 4u}) {
        SCOPED_TRACE(fields);
        CutFileLines(fields);
        ASSERT_EQ(SplitFromEnd(FileLines().front(), "|").size(), fields);
        const std::uint64_t inode = Inode(out_ / "data/file2.bin.bz2");
        const publish::Summary summary = publish::Publish(Options(1));
        EXPECT_EQ(summary.previousRevision, 1);
        EXPECT_EQ(summary.reusedCopies, 4u);
        EXPECT_EQ(Inode(out_ / "data/file2.bin.bz2"), inode);
        EXPECT_EQ(FileLines(), lines);
    }

    // A listed SHA-256 that the content does not have: the MD5 and the size
    // alone do not make the copy the content's.
    const std::string& line = lines[1];
    const std::size_t sha = line.find('|') + 1;
    std::string text = Manifest();
    text.replace(text.find(line) + sha, 64, std::string(64, 'a'));
    WriteFile((out_ / "files.lst.bz2").string(), Bzip2(text));
    const publish::Summary summary = publish::Publish(Options(1));
    EXPECT_EQ(summary.reusedCopies, 3u);
    EXPECT_EQ(summary.compressedCopies, 1u);
    EXPECT_EQ(FileLines(), lines);
}

TEST_F(PublishTest, RedoesACopyThatDoesNotMatchTheListedSize) {
    Put("a.txt", SampleData(10'000, 1));
    Put("b.txt", SampleData(10'000, 2));
    publish::Publish(Options(1));
    WriteFile((out_ / "a.txt.bz2").string(), "cut");
    fs::remove(out_ / "b.txt.bz2");

    const publish::Summary summary = publish::Publish(Options(1));
    EXPECT_EQ(summary.reusedCopies, 0u);
    EXPECT_EQ(Unbzip(out_ / "a.txt.bz2"), SampleData(10'000, 1));
    EXPECT_EQ(Unbzip(out_ / "b.txt.bz2"), SampleData(10'000, 2));
}

TEST_F(PublishTest, TheRevisionMustGrowWhenNormalFilesChange) {
    Put("bin/game.exe", "1");
    Put("data/a.txt", "1");
    publish::Options options = Options(5);
    options.criticalPatterns = {"bin/*"};
    publish::Publish(options);
    const auto published = Snapshot(out_);

    // The same revision again is fine while files_normal stays as it is...
    Put("bin/game.exe", "2");
    EXPECT_NO_THROW(publish::Publish(options));
    // ...but not with a changed, added or removed normal file, nor going down.
    Put("data/a.txt", "2");
    EXPECT_THROW(publish::Publish(options), publish::EUsageError);
    Put("data/a.txt", "1");
    Put("data/b.txt", "new");
    EXPECT_THROW(publish::Publish(options), publish::EUsageError);
    options.revision = 4;
    EXPECT_THROW(publish::Publish(options), publish::EUsageError);
    EXPECT_EQ(Unbzip(out_ / "bin/game.exe.bz2"), "2");
    EXPECT_FALSE(fs::exists(out_ / "data/b.txt.bz2"));
    EXPECT_TRUE(Leftovers().empty());

    options.revision = 6;
    EXPECT_NO_THROW(publish::Publish(options));
    EXPECT_EQ(Unbzip(out_ / "data/b.txt.bz2"), "new");
    EXPECT_NE(Snapshot(out_), published);
}

// ---------------------------------------------------------------------------
// Refusals: nothing is written, the published tree stays byte for byte

TEST_F(PublishTest, BadInputLeavesThePublishedTreeAsItWas) {
    Put("data/a.txt", "a");
    Put("Launcher.exe", "launcher");
    WriteFile(dir_ / "bad-hosts", "127.0.0.1 ok.example.com\n10.0.0.300 bad.example.com\n");
    publish::Publish(Options());
    const auto published = Snapshot(out_);

    struct Case {
        std::string what;
        std::function<void(publish::Options&)> prepare;
        std::string named;      // a text the message must hold
        bool everywhere = true; // false: not on Windows
    };
    const std::vector<Case> cases = {
        {"a name outside Windows-1251", [&](auto&) { Put("data/日本.txt", "x"); }, "日本.txt"},
        {"a \"|\" in a name", [&](auto&) { Put("data/a|b.txt", "x"); }, "a|b.txt", false},
        {"a \":\" in a name", [&](auto&) { Put("c:d.txt", "x"); }, "c:d.txt", false},
        {"a backslash in a name", [&](auto&) { Put("e\\f.txt", "x"); }, "e\\f.txt", false},
        {"a control character", [&](auto&) { Put("g\th.txt", "x"); }, "g\\x09h.txt", false},
        {"a leading blank", [&](auto&) { Put("data/ lead.txt", "x"); }, " lead.txt"},
        {"a trailing blank in a folder", [&](auto&) { Put("trail /x.txt", "x"); }, "trail ", false},
        {"a device name as a folder", [&](auto&) { Put("lpt1/x.txt", "x"); }, "lpt1", false},
        {"a trailing dot", [&](auto&) { Put("data/x.", "x"); }, "x.", false},
        {"a file beside its copy's name", [&](auto&) { Put("data/a.txt.bz2", "x"); }, "a.txt.bz2"},
        {"the manifest's name", [&](auto&) { Put("files.lst", "x"); }, "files.lst"},
        {"a link out of SOURCE",
         [&](auto&) { fs::create_symlink(dir_.path() / "bad-hosts", source_ / "out.txt"); },
         "out.txt", false},
        {"a broken link", [&](auto&) { fs::create_symlink("nowhere", source_ / "dead"); }, "dead",
         false},
        {"a link loop", [&](auto&) { fs::create_directory_symlink("..", source_ / "data/up"); },
         "data/up", false},
#ifndef _WIN32
        {"a pipe", [&](auto&) { ASSERT_EQ(::mkfifo((source_ / "pipe").c_str(), 0600), 0); },
         "pipe"},
#endif
        {"a bad hosts line", [&](auto& o) { o.hostsFile = dir_.path() / "bad-hosts"; },
         "bad-hosts:2"},
        {"a missing launcher build", [&](auto& o) { o.selfName = "Missing.exe"; }, "Missing.exe"},
        {"a bad pattern", [&](auto& o) { o.criticalPatterns = {"data/[a"}; }, "data/[a"},
        {"a pattern that matches no file",
         [&](auto& o) {
             o.criticalPatterns = {"Launcher.exe", "dta/*"};
         },
         "\"dta/*\" matches"},
        {"an interrupted run",
         [&](auto& o) {
             static const std::atomic<bool> stop{true};
             o.cancel = &stop;
         },
         "Interrupted"},
    };
    for (const Case& c : cases) {
        if (kWindows && !c.everywhere)
            continue;
        SCOPED_TRACE(c.what);
        TempDir keep;
        fs::copy(source_, keep.path() / "client",
                 fs::copy_options::recursive | fs::copy_options::copy_symlinks);
        publish::Options options = Options(2);
        c.prepare(options);
        try {
            publish::Publish(options);
            ADD_FAILURE() << "published";
        } catch (const Exception& e) {
            EXPECT_NE(std::string(e.what()).find(c.named), std::string::npos) << e.what();
        }
        EXPECT_EQ(Snapshot(out_), published);
        EXPECT_TRUE(Leftovers().empty());
        fs::remove_all(source_);
        fs::copy(keep.path() / "client", source_,
                 fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    }
}

TEST_F(PublishTest, RemovesWhatTheTreeDoesNotListOnlyWhenTold) {
    Put("data/a.txt", "a");
    Put("Launcher.exe", "launcher");
    publish::Options options = Options(1);
    options.selfName = "Launcher.exe";
    publish::Publish(options);
    // An operator's pages, notes and leftovers beside the copies.
    WriteFile((out_ / "index.html").string(), "<html></html>");
    WriteFile((out_ / "news/today.html").string(), "news");
    WriteFile((out_ / "data/notes.txt").string(), "notes");
    fs::create_directories(out_ / "data/empty");
    WriteFile((out_ / "files.lst").string(), "an unpacked manifest");
    for (int i = 0; i < 20; ++i)
        WriteFile((out_ / ("old/" + std::to_string(i) + ".bz2")).string(), "old");
    const auto published = Snapshot(out_);
    const auto entries = [&] {
        std::set<std::string> names;
        for (const auto& entry : fs::recursive_directory_iterator(out_))
            names.insert(GenericText(fs::relative(entry.path(), out_)));
        return names;
    };
    const std::set<std::string> before = entries();

    options.revision = 2;
    try {
        publish::Publish(options);
        ADD_FAILURE() << "published";
    } catch (const publish::EUsageError& e) {
        const std::string text = e.what();
        EXPECT_NE(text.find(" holds 6 entries that the published tree does not list"),
                  std::string::npos)
            << text;
        for (const char* entry :
             {"\n  \"data/empty/\"", "\n  \"data/notes.txt\"", "\n  \"files.lst\"",
              "\n  \"index.html\"", "\n  \"news/\"", "\n  \"old/\"", "--replace-foreign"})
            EXPECT_NE(text.find(entry), std::string::npos) << entry << "\n" << text;
        EXPECT_EQ(text.find(".bz2\""), std::string::npos) << text; // the tree's own copies
    }
    EXPECT_EQ(Snapshot(out_), published);
    EXPECT_EQ(entries(), before);
    EXPECT_TRUE(Leftovers().empty());

    // A manifest that cannot be read lists nothing as the tree's.
    WriteFile((out_ / "files.lst.bz2").string(), "not bzip2");
    fs::remove_all(out_ / "old");
    const auto damaged = Snapshot(out_);
    try {
        publish::Publish(options);
        ADD_FAILURE() << "published";
    } catch (const publish::EUsageError& e) {
        const std::string text = e.what();
        EXPECT_NE(text.find("\n  \"Launcher.exe.bz2\""), std::string::npos) << text;
        EXPECT_NE(text.find("cannot be read"), std::string::npos) << text;
    }
    EXPECT_EQ(Snapshot(out_), damaged);
    EXPECT_TRUE(Leftovers().empty());

    std::ostringstream output, errors;
    ASSERT_EQ(
        publish::RunCommandLine({platform::PathText(source_), platform::PathText(out_), "--rev",
                                 "2", "--self", "Launcher.exe", "--replace-foreign", "--no-chunks"},
                                output, errors),
        0)
        << errors.str();
    // Nothing of the tree is known in "data" now: it goes as a whole.
    EXPECT_NE(output.str().find("Removed from OUT, as no part of the published tree: "
                                "\"Launcher.exe.bz2\", \"data/\", \"files.lst\", "
                                "\"index.html\", \"news/\".\n"),
              std::string::npos)
        << output.str();
    EXPECT_EQ(entries(), (std::set<std::string>{"Launcher.exe.bz2", "data", "data/a.txt.bz2",
                                                "files.lst.bz2"}));
}

TEST_F(PublishTest, AllBadNamesAreListedAtOnce) {
    const std::string bad = kWindows ? "日" : "|";
    Put("a" + bad + "1.txt", "x");
    Put("sub/b" + bad + "2.txt", "x");
    try {
        publish::Publish(Options());
        FAIL() << "published";
    } catch (const publish::EPublishError& e) {
        EXPECT_NE(std::string(e.what()).find("a" + bad + "1.txt"), std::string::npos);
        EXPECT_NE(std::string(e.what()).find("sub/b" + bad + "2.txt"), std::string::npos);
    }
    EXPECT_FALSE(fs::exists(out_));
    EXPECT_TRUE(Leftovers().empty());
}

// What the launcher refuses as a path is refused here first, with its reason:
// names that Windows reads as another file or as a device.
TEST(PublishNameTest, RefusesNamesThatWindowsReadsAsAnotherFileOrADevice) {
    const auto reason = [](std::string_view name) { return publish::NameProblem(name); };
    for (const char* name : {"a.", "maps.."})
        EXPECT_NE(reason(name).find("ends with a dot"), std::string::npos) << name;
    for (const char* name :
         {"CON", "nul.txt", "Com1.dat", "lpt9", "aux.tar.gz", "CONOUT$", "prn .x"})
        EXPECT_NE(reason(name).find("Windows device"), std::string::npos) << name;
    EXPECT_NE(reason("b ").find("blank"), std::string::npos);
    EXPECT_NE(reason("COM¹").find("Windows-1251"), std::string::npos);
    for (const char* name : {"CONFIG.SYS", "console.dat", "com10", "nul_", "COM0", "карта.con"})
        EXPECT_EQ(reason(name), "") << name;
}

TEST_F(PublishTest, RefusesFoldersThatAreNotItsOwn) {
    Put("a.txt", "a");
    publish::Options options = Options();
    options.out = source_ / "site";
    EXPECT_THROW(publish::Publish(options), publish::EUsageError);
    options.out = source_;
    EXPECT_THROW(publish::Publish(options), publish::EUsageError);
    options.out = dir_.path();
    EXPECT_THROW(publish::Publish(options), publish::EUsageError); // holds SOURCE
    options.out = out_;
    WriteFile((out_ / "index.html").string(), "someone else's");
    EXPECT_THROW(publish::Publish(options), publish::EUsageError); // not a published tree
    EXPECT_EQ(ReadFile((out_ / "index.html").string()), "someone else's");
    options.source = dir_.path() / "missing";
    EXPECT_THROW(publish::Publish(options), publish::EUsageError);
}

// ---------------------------------------------------------------------------
// Patterns, hosts, revision

TEST(PublishPatternTest, MatchesWholePathsWithFolderAwareWildcards) {
    struct Case {
        const char* pattern;
        const char* path;
        bool matches;
    };
    const Case cases[] = {
        {"*.exe", "game.exe", true},
        {"*.exe", "bin/game.exe", false}, // "*" stays within a name
        {"bin/*", "bin/game.exe", true},
        {"bin/*", "bin/sub/game.exe", false},
        {"**/*.exe", "game.exe", true}, // "**/" may match no folder
        {"**/*.exe", "a/b/c/game.exe", true},
        {"data/**", "data/a/b.txt", true},
        {"data/**", "data", false},
        {"a/**/z.txt", "a/z.txt", true},
        {"a/**/z.txt", "a/b/c/z.txt", true},
        {"a/**/z.txt", "a/b/c/y.txt", false},
        {"?.txt", "я.txt", true}, // one character, not one byte
        {"?.txt", "ab.txt", false},
        {"Карты/*", "Карты/север 1.map", true},
        {"[a-c]*.dat", "b1.dat", true},
        {"[!a-c]*.dat", "b1.dat", false},
        {"[^a-c]*.dat", "d1.dat", true},
        {"[]x].txt", "].txt", true},
        {"file[*].txt", "file*.txt", true},
        {"file[*].txt", "fileX.txt", false},
        {"*", ".hidden", true},
        {"Game.exe", "game.exe", false},
        {"*a*b*c", "xaybzc", true},
        {"*a*b*c", "xaybzcd", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(publish::GlobPattern(c.pattern).Matches(c.path), c.matches)
            << c.pattern << " ~ " << c.path;

    for (const char* bad :
         {"", "/bin/*", "a//b", "bin/", "**.exe", "a**/b", "[abc", "a\\b", "[z-a]", "\xFF"})
        EXPECT_THROW(publish::GlobPattern{bad}, publish::EUsageError) << bad;
}

TEST(PublishPatternTest, ManyGlobstarsOverDeepPathsAnswerAtOnce) {
    // Tried one way of sharing the folders out after the other, twelve "**"
    // over forty folders would take hours.
    std::string pattern, deep = "a";
    for (int i = 0; i < 12; ++i)
        pattern += "**/";
    for (int i = 0; i < 39; ++i)
        deep += "/a";
    const auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(publish::GlobPattern(pattern + "x").Matches(deep));
    EXPECT_TRUE(publish::GlobPattern(pattern + "a").Matches(deep));
    EXPECT_TRUE(publish::GlobPattern(pattern + "a/**").Matches(deep));
    EXPECT_FALSE(publish::GlobPattern(pattern + "a/**").Matches("a"));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
}

TEST(PublishHostsTest, ReadsAddressNameLinesAndRefusesOthers) {
    TempDir dir;
    WriteFile(dir / "hosts", "# comment\n\n  10.1.2.3\tauth.example.com  \r\n"
                             "2001:db8::1 game-1.example.org # trailing comment\n");
    const auto hosts = publish::ReadHostsFile(dir.path() / "hosts");
    ASSERT_EQ(hosts.size(), 2u);
    EXPECT_EQ(hosts[0].address, "10.1.2.3");
    EXPECT_EQ(hosts[0].hostname, "auth.example.com");
    EXPECT_EQ(hosts[1].address, "2001:db8::1");
    EXPECT_EQ(hosts[1].hostname, "game-1.example.org");

    for (const char* line :
         {"10.1.2.3", "10.1.2.3 a.example.com b.example.com", "10.1.2 a.example.com",
          "fe80::1%eth0 a.example.com", "example.com 10.1.2.3", "10.1.2.3 -a.example.com",
          "10.1.2.3 a_b.example.com", "10.1.2.3 a..example.com", "10.1.2.3 1.2.3.4",
          "10.1.2.3 имя.example.com", "10.1.2.3 a|b.example.com"}) {
        WriteFile(dir / "hosts", std::string("127.0.0.1 ok.example.com\n") + line + "\n");
        try {
            publish::ReadHostsFile(dir.path() / "hosts");
            ADD_FAILURE() << line;
        } catch (const publish::EUsageError& e) {
            EXPECT_NE(std::string(e.what()).find("hosts:2:"), std::string::npos) << e.what();
        }
    }
    // The system reads an address only up to a NUL: what follows is no address.
    WriteFile(dir / "hosts", std::string("10.1.2.3\0junk a.example.com\n", 28));
    EXPECT_THROW(publish::ReadHostsFile(dir.path() / "hosts"), publish::EUsageError);
    EXPECT_THROW(publish::ReadHostsFile(dir.path() / "missing"), publish::EUsageError);
}

TEST(PublishRevisionTest, TakesDecimalSigned32BitNumbers) {
    EXPECT_EQ(publish::ParseRevision("0"), 0);
    EXPECT_EQ(publish::ParseRevision("2147483647"), 2147483647);
    EXPECT_EQ(publish::ParseRevision("-2147483648"), -2147483647 - 1);
    for (const char* bad : {"", "-", "+1", " 1", "1 ", "0x10", "$10", "2147483648", "1e3", "12a"})
        EXPECT_THROW(publish::ParseRevision(bad), publish::EUsageError) << bad;
}

// ---------------------------------------------------------------------------
// Signed trees

TEST_F(PublishTest, SignedTreesExpireInThirtyDaysUnlessToldOtherwise) {
    Put("a.txt", "a");
    publish::GenerateKey(dir_.path() / "key.pem");
    const std::string src = platform::PathText(source_), out = platform::PathText(out_);
    const std::string key = platform::PathText(dir_.path() / "key.pem");
    for (const auto& [extra, days] :
         std::vector<std::pair<std::vector<std::string>, int>>{{{}, 30}, {{"--expires", "2"}, 2}}) {
        SCOPED_TRACE(days);
        std::vector<std::string> arguments = {src, out, "--rev", "1", "--sign", key};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        std::ostringstream output, errors;
        const std::int64_t before = Now();
        ASSERT_EQ(publish::RunCommandLine(arguments, output, errors), 0) << errors.str();
        const std::string expires = ManifestFile().GetValue("settings", "Expires");
        const std::optional<std::int64_t> at = ParseUtcTime(expires);
        ASSERT_TRUE(at) << expires;
        EXPECT_GE(*at, before + days * 86400);
        EXPECT_LE(*at, Now() + days * 86400);
        EXPECT_NE(output.str().find("; it expires at " + expires + ".\n"), std::string::npos)
            << output.str();
    }
}

TEST_F(PublishTest, AnUnsignedRunOverASignedTreeNeedsUnsigned) {
    Put("a.txt", "a");
    publish::GenerateKey(dir_.path() / "key.pem");
    publish::Options options = Options(1);
    options.signingKey = dir_.path() / "key.pem";
    publish::Publish(options);
    const auto published = Snapshot(out_);

    options.signingKey.reset();
    options.revision = 2;
    try {
        publish::Publish(options);
        ADD_FAILURE() << "published";
    } catch (const publish::EUsageError& e) {
        EXPECT_NE(std::string(e.what()).find("--unsigned"), std::string::npos) << e.what();
    }
    EXPECT_EQ(Snapshot(out_), published);
    EXPECT_TRUE(Leftovers().empty());

    options.publishUnsigned = true;
    publish::Publish(options);
    EXPECT_FALSE(fs::exists(out_ / "files.lst.bz2.sig"));
    EXPECT_EQ(ManifestFile().GetValue("settings", "Rev"), "2");
    // Unsigned now, so later unsigned runs need nothing more.
    options.publishUnsigned = false;
    EXPECT_NO_THROW(publish::Publish(options));
}

// --resign: the same tree with a later expiry and a signature over it.
class PublishResignTest : public PublishTest {
protected:
    PublishResignTest() {
        publish::GenerateKey(dir_.path() / "key.pem");
        publish::GenerateKey(dir_.path() / "other.pem");
        Put("bin/game.exe", SampleData(40'000, 1));
        Put("data/a.txt", "a");
        publish::Options options = Options(4);
        options.criticalPatterns = {"bin/*"};
        options.signingKey = dir_.path() / "key.pem";
        options.expiresAt = Now() + 86400;
        publish::Publish(options);
    }

    int Resign(std::vector<std::string> extra, std::string* printed = nullptr,
               const std::string& key = "key.pem") const {
        std::vector<std::string> arguments = {"--resign", platform::PathText(out_), "--sign",
                                              platform::PathText(dir_.path() / key)};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        std::ostringstream output, errors;
        const int code = publish::RunCommandLine(arguments, output, errors);
        if (printed)
            *printed = output.str() + errors.str();
        return code;
    }

    signing::Verdict Verdict() const {
        const std::string manifest = ReadFile((out_ / "files.lst.bz2").string());
        return signing::Verify(ReadFile((out_ / "files.lst.bz2.sig").string()),
                               {publish::SigningKey(dir_.path() / "key.pem").PublicKey()},
                               reinterpret_cast<const unsigned char*>(manifest.data()),
                               manifest.size());
    }

    std::string Expires() const { return ManifestFile().GetValue("settings", "Expires"); }

    // Everything in OUT but the manifest and its signature.
    std::map<std::string, std::string> TreeFiles() const {
        auto files = Snapshot(out_);
        files.erase("files.lst.bz2");
        files.erase("files.lst.bz2.sig");
        return files;
    }
};

TEST_F(PublishResignTest, GivesTheSameTreeALaterExpiryAndASignatureOverIt) {
    WriteFile((out_ / "index.html").string(), "kept as it is"); // not the tree's, but not removed
    const std::string before = Manifest(), expiresBefore = Expires();
    const auto files = TreeFiles();
    const std::uint64_t copy = Inode(out_ / "bin/game.exe.bz2");

    std::string printed;
    const std::int64_t started = Now();
    ASSERT_EQ(Resign({}, &printed), 0) << printed;
    const std::string expires = Expires();
    const std::optional<std::int64_t> at = ParseUtcTime(expires);
    ASSERT_TRUE(at) << expires;
    EXPECT_GE(*at, started + 30 * 86400);
    EXPECT_LE(*at, Now() + 30 * 86400);
    EXPECT_EQ(Manifest(), ReplaceText(before, "\r\nExpires|" + expiresBefore + "\r\n",
                                      "\r\nExpires|" + expires + "\r\n"));
    EXPECT_EQ(Verdict(), signing::Verdict::Good);
    const std::string keyText =
        signing::KeyText(publish::SigningKey(dir_.path() / "key.pem").PublicKey());
    EXPECT_NE(printed.find("Signed revision 4 of "), std::string::npos) << printed;
    EXPECT_NE(printed.find(" again (2 files, unchanged) with the key " + keyText +
                           "; it expires at " + expires + " (before: " + expiresBefore + ")"),
              std::string::npos)
        << printed;
    // The copies and everything else of OUT as they were, the copies not
    // copied but the same files.
    EXPECT_EQ(TreeFiles(), files);
    EXPECT_EQ(Inode(out_ / "bin/game.exe.bz2"), copy);
    EXPECT_TRUE(Leftovers().empty());

    // A tree signed before manifests expired gets the entry at the end of
    // its settings.
    const std::string unexpiring =
        ReplaceText(Manifest(), "Expires|" + expires + "\r\n", std::string());
    WriteFile((out_ / "files.lst.bz2").string(), Bzip2(unexpiring));
    WriteFile(
        (out_ / "files.lst.bz2.sig").string(),
        publish::SigningKey(dir_.path() / "key.pem").SignatureFileText(out_ / "files.lst.bz2"));
    ASSERT_EQ(Resign({"--expires", "3"}, &printed), 0) << printed;
    EXPECT_EQ(Manifest(), ReplaceText(unexpiring, "ModHosts|0\r\n[/settings]",
                                      "ModHosts|0\r\nExpires|" + Expires() + "\r\n[/settings]"));
    EXPECT_LE(*ParseUtcTime(Expires()), Now() + 3 * 86400);
    EXPECT_EQ(Verdict(), signing::Verdict::Good);
}

TEST_F(PublishResignTest, RefusesATreeItCannotVouchFor) {
    struct Case {
        std::string what;
        std::function<void()> prepare;
        std::vector<std::string> arguments;
        std::string named; // a text the message must hold
    };
    const auto rewrite = [&](const std::string& what, const std::string& with) {
        WriteFile((out_ / "files.lst.bz2").string(), Bzip2(ReplaceText(Manifest(), what, with)));
    };
    const std::vector<Case> cases = {
        {"an unsigned tree", [&] { fs::remove(out_ / "files.lst.bz2.sig"); }, {}, "is not signed"},
        {"another key", [] {}, {}, "is signed with the key "},
        {"a manifest changed after it was signed",
         [&] { rewrite("Rev|4", "Rev|5"); },
         {},
         "was changed after it was signed"},
        {"a copy's line changed",
         [&] { rewrite("bin\\game.exe", "bin\\evil.exe"); },
         {},
         "was changed after it was signed"},
        {"a damaged signature file",
         [&] { WriteFile((out_ / "files.lst.bz2.sig").string(), "x"); },
         {},
         "is not a signature file"},
        {"a SOURCE", [] {}, {platform::PathText(source_)}, "takes no SOURCE"},
        {"a revision", [] {}, {"--rev", "5"}, "takes only --sign KEYFILE and --expires DAYS"},
        {"no tree", [&] { fs::remove(out_ / "files.lst.bz2"); }, {}, "holds no files.lst.bz2"},
    };
    const TempDir keep;
    fs::copy(out_, keep.path() / "site", fs::copy_options::recursive);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        c.prepare();
        const auto published = Snapshot(out_);
        std::string printed;
        EXPECT_EQ(Resign(c.arguments, &printed, c.what == "another key" ? "other.pem" : "key.pem"),
                  2);
        EXPECT_NE(printed.find(c.named), std::string::npos) << printed;
        EXPECT_EQ(Snapshot(out_), published);
        EXPECT_TRUE(Leftovers().empty());
        fs::remove_all(out_);
        fs::copy(keep.path() / "site", out_, fs::copy_options::recursive);
    }
}

TEST(PublishExpiryTest, WritesTheExpiryWhereTheLauncherReadsItAndNothingElse) {
    struct Case {
        std::string manifest, expected;
    };
    const std::vector<Case> cases = {
        // Replaced in place, the first of two; LF lines stay LF lines.
        {"[settings]\nRev|1\nExpires|old\nExpires|second\n[/settings]\n[hosts]\n",
         "[settings]\nRev|1\nExpires|T\nExpires|second\n[/settings]\n[hosts]\n"},
        {"[settings]\r\n  Expires|old \r\nRev|1\r\n[/settings]\r\n",
         "[settings]\r\nExpires|T\r\nRev|1\r\n[/settings]\r\n"},
        // Added at the end of the section; one elsewhere is not the setting.
        {"[hosts]\r\nExpires|x\r\n[/hosts]\r\n[settings]\r\nRev|1\r\n[/settings]\r\n",
         "[hosts]\r\nExpires|x\r\n[/hosts]\r\n[settings]\r\nRev|1\r\nExpires|T\r\n"
         "[/settings]\r\n"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(publish::WithExpiry(c.manifest, "T"), c.expected) << c.manifest;
    for (const char* bad : {"[hosts]\r\n[/hosts]\r\n", "[settings]\r\nRev|1\r\n",
                            "[settings]\r\nRev|1\r\n\x1A[/settings]\r\n"})
        EXPECT_THROW(publish::WithExpiry(bad, "T"), publish::EPublishError) << bad;
}

// ---------------------------------------------------------------------------
// The program

TEST_F(PublishTest, CommandLineExitCodes) {
    Put("bin/game.exe", "game");
    Put("Launcher.exe", "launcher");
    const std::string src = platform::PathText(source_), out = platform::PathText(out_);
    const auto run = [](const std::vector<std::string>& arguments, std::string* printed = nullptr) {
        std::ostringstream output, errors;
        const int code = publish::RunCommandLine(arguments, output, errors);
        if (printed)
            *printed = output.str() + errors.str();
        return code;
    };
    std::string printed;
    EXPECT_EQ(run({"--help"}, &printed), 0);
    EXPECT_NE(printed.find("Usage: quenmor-publish SOURCE OUT --rev N"), std::string::npos);

    EXPECT_EQ(run({src, out}), 2);                               // no --rev
    EXPECT_EQ(run({src, out, "--rev", "x"}), 2);                 // bad --rev
    EXPECT_EQ(run({src, out, "--rev"}), 2);                      // no value
    EXPECT_EQ(run({src, out, "--rev", "1", "--rev", "2"}), 2);   // twice
    EXPECT_EQ(run({src, out, "--rev", "1", "--frobnicate"}), 2); // unknown option
    EXPECT_EQ(run({src, "--rev", "1"}), 2);                      // no OUT
    EXPECT_EQ(run({src, out, "extra", "--rev", "1"}), 2);        // too many
    EXPECT_EQ(run({src, out, "--rev", "1", "--mod-hosts", "2"}), 2);
    EXPECT_EQ(run({src, out, "--rev", "1", "--critical", "[x"}), 2);
    EXPECT_EQ(run({src, out, "--rev", "1", "--self", "Missing.exe"}), 2);
    EXPECT_EQ(run({src, out, "--rev", "1", "--self", "bin/game.exe"}), 2);
    EXPECT_EQ(run({src + "/missing", out, "--rev", "1"}), 2);
    EXPECT_EQ(run({src, out, "--rev", "1", "--hosts", (dir_ / "missing")}), 2);
    publish::GenerateKey(dir_.path() / "key.pem");
    EXPECT_EQ(run({src, out, "--rev", "1", "--unsigned=1"}), 2);
    EXPECT_EQ(run({src, out, "--rev", "1", "--unsigned", "--unsigned"}), 2);
    EXPECT_EQ(run({src, out, "--rev", "1", "--unsigned", "--sign", (dir_ / "key.pem")}), 2);
    EXPECT_FALSE(fs::exists(out_));

    EXPECT_EQ(run({src, out, "--rev=7", "--critical=bin/*", "--self", "Launcher.exe", "--mod-hosts",
                   "1", "--jobs", "2"},
                  &printed),
              0);
    EXPECT_NE(printed.find("Published revision 7"), std::string::npos) << printed;
    EXPECT_NE(printed.find("1 file (1 critical, 0 normal)"), std::string::npos) << printed;
    EXPECT_NE(printed.find("0 copies reused, 2 compressed"), std::string::npos) << printed;
    EXPECT_EQ(ManifestFile().GetValue("settings", "ModHosts"), "1");

    const std::string bad = kWindows ? "bad日name" : "bad|name";
    Put(bad, "x");
    EXPECT_EQ(run({src, out, "--rev", "8"}, &printed), 1);
    EXPECT_NE(printed.find(bad), std::string::npos) << printed;
}

// ---------------------------------------------------------------------------
// The launcher against a published tree

TEST_F(PublishTest, TheUpdateRunInstallsWhatWasPublished) {
    Put("bin/game.exe", SampleData(100'000, 1));
    Put(kTextures, SampleData(20'000, 2));
    Put("data/maps/level 1.map", "level 1");
    Put("empty.dat", "");
    publish::Options options = Options(1);
    options.criticalPatterns = {"bin/*"};
    publish::Publish(options);

    TestHttpServer server(TestHttpServer::Folder(out_.string()));
    const fs::path install = dir_.path() / "install";
    fs::create_directories(install);
    const auto run = [&](std::int32_t atRevision) {
        RecordingTarget target;
        GFilesThread thread(target);
        thread.UpdateUrl = server.Url("/");
        thread.AtRevision = atRevision;
        thread.ConnectTimeoutS = 5;
        thread.StallTimeoutS = 5;
        RunToEnd(thread, install);
        return target.Events();
    };
    auto events = run(0);
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(events[events.size() - 2], "ShowStatus:Все файлы были обновлены");
    EXPECT_EQ(Snapshot(install), Snapshot(source_));

    Put("data/maps/level 1.map", "level 1, second edition");
    options.revision = 2;
    publish::Publish(options);
    events = run(1);
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(events[events.size() - 2], "ShowStatus:Все файлы были обновлены");
    EXPECT_EQ(Snapshot(install), Snapshot(source_));
}
