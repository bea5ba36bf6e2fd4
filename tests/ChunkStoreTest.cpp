// The publisher's chunk store: each chunk stored once, what an unchanged
// file needs taken over from the tree before, the chunks of the revision
// before kept for the runs still at it and those of older ones dropped, and
// the names and settings it claims in the tree.
#include "ChunkIndex.h"
#include "CommandLine.h"
#include "PublishErrors.h"
#include "Publisher.h"
#include "TestSupport.h"
#include "md5.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>
#include <sstream>

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

std::string Sha256(const std::string& content) {
    TSHA256 digest;
    digest.Update(content.data(), content.size());
    return digest.FinalText();
}

class ChunkStoreTest : public ::testing::Test {
protected:
    publish::Summary PublishRevision(std::int32_t revision,
                                     const std::map<std::string, std::string>& files) {
        fs::remove_all(dir_.path() / "client");
        for (const auto& [path, content] : files)
            WriteFile(dir_ / ("client/" + path), content);
        publish::Options options;
        options.source = dir_.path() / "client";
        options.out = dir_.path() / "out";
        options.revision = revision;
        options.jobs = 2;
        return publish::Publish(options);
    }

    // The chunks and indexes of the store, relative to it.
    std::set<std::string> Stored() const {
        std::set<std::string> names;
        for (const auto& entry : fs::recursive_directory_iterator(dir_.path() / "out/chunks"))
            if (entry.is_regular_file())
                names.insert(entry.path().filename().string());
        return names;
    }

    TempDir dir_;
};

TEST_F(ChunkStoreTest, KeepsWhatTheTreeAndTheOneBeforeItNeedAndNothingElse) {
    const std::string shared = SampleData(600000, 1);
    const std::map<std::string, std::string> first = {
        {"a.pak", shared + SampleData(300000, 2)}, {"b.pak", shared}, {"c.pak", "small"}};
    const publish::Summary one = PublishRevision(1, first);
    // The chunks b.pak shares with a.pak are stored once.
    std::size_t references = 0;
    for (const auto& entry : fs::recursive_directory_iterator(dir_.path() / "out/chunks")) {
        if (entry.path().extension() != ".idx")
            continue;
        std::istringstream index(ReadFile(entry.path().string()));
        std::string header, sha, size;
        std::size_t count = 0;
        std::getline(index, header);
        index >> sha >> size >> count;
        references += count;
    }
    EXPECT_LE(one.chunksWritten + 5, references);
    const std::set<std::string> afterOne = Stored();
    EXPECT_EQ(afterOne.size(), one.chunksWritten + 3); // and an index per content
    EXPECT_EQ(one.chunksTakenOver, 0u);

    std::map<std::string, std::string> second = first;
    second["a.pak"].replace(700000, 5, "EDIT!");
    const publish::Summary two = PublishRevision(2, second);
    EXPECT_GE(two.chunksWritten, 1u);
    EXPECT_LE(two.chunksWritten, 3u); // only the chunks around the edit
    const std::set<std::string> afterTwo = Stored();
    for (const std::string& name : afterOne) // revision 1's runs still find theirs
        EXPECT_EQ(afterTwo.count(name), 1u) << name;

    std::map<std::string, std::string> third = second;
    third["a.pak"] = second["a.pak"] + "tail";
    third.erase("b.pak");
    PublishRevision(3, third);
    const std::set<std::string> afterThree = Stored();
    // Revision 2's contents stay, b.pak's among them; revision 1's a.pak and
    // the chunk only it had go.
    for (const auto& [path, content] : second)
        EXPECT_EQ(afterThree.count(Sha256(content) + ".idx"), 1u) << path;
    EXPECT_EQ(afterThree.count(Sha256(third["a.pak"]) + ".idx"), 1u);
    EXPECT_EQ(afterThree.count(Sha256(first.at("a.pak")) + ".idx"), 0u);
    std::size_t dropped = 0;
    for (const std::string& name : afterOne)
        dropped += afterThree.count(name) == 0 ? 1u : 0u;
    EXPECT_EQ(dropped, 2u);
}

TEST_F(ChunkStoreTest, ClaimsItsFolderAndWritesItsSettings) {
    WriteFile(dir_ / "client/chunks/x.dat", "x");
    std::ostringstream out, err;
    const std::string client = (dir_.path() / "client").string();
    const std::string tree = (dir_.path() / "out").string();
    EXPECT_EQ(publish::RunCommandLine({client, tree, "--rev", "1"}, out, err), 1);
    EXPECT_NE(err.str().find("\"chunks\": the chunk store lies in this folder"), std::string::npos)
        << err.str();
    EXPECT_EQ(publish::RunCommandLine({client, tree, "--rev", "1", "--no-chunks", "--mirror",
                                       "http://mirror.example/tree", "--mirror",
                                       "https://cdn.example/q/"},
                                      out, err),
              0)
        << err.str();
    const std::string manifest = Unbzip2File(tree + "/files.lst.bz2");
    EXPECT_EQ(manifest.find(kChunksSetting), std::string::npos);
    EXPECT_NE(manifest.find("\r\nMirrors|http://mirror.example/tree/|https://cdn.example/q/\r\n"),
              std::string::npos)
        << manifest;
    EXPECT_EQ(publish::RunCommandLine({client, tree, "--rev", "2", "--mirror", "ftp://x/"}, out, err),
              2);
}

} // namespace
