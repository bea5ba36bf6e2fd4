// Runs over an update address and its mirrors: a mirror that does not
// answer, one that gives wrong bytes and one that answers 503 are each
// dropped and named, and the run completes from the others, copies and
// chunks alike; a manifest that the update address cannot give is asked of
// the installation's own mirrors.
#include "GetFilesThr.h"
#include "Mirrors.h"
#include "Publisher.h"
#include "Signature.h"
#include "Signing.h"
#include "TestHttpServer.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

class MirrorTest : public ::testing::Test {
protected:
    MirrorTest()
        : folder_(TestHttpServer::Folder(dir_ / "server")), primary_(folder_),
          wrong_([this](const HttpRequest& request) {
              // Every file of the tree but the manifest, with other bytes.
              HttpReply reply = folder_(request);
              if (EndsWith(request.target, ".bz2") && request.target != "/files.lst.bz2")
                  reply.body = Bzip2("not what the manifest lists");
              if (EndsWith(request.target, ".zst"))
                  reply.body = "not a zstd frame";
              return reply;
          }),
          busy_(TestHttpServer::UnavailableFirst(folder_, 1000000)) {}

    void PublishTree(const std::map<std::string, std::string>& files,
                     const std::vector<std::string>& mirrors, const std::string& key = {}) {
        for (const auto& [path, content] : files)
            WriteFile(dir_ / ("client/" + path), content);
        publish::Options options;
        options.source = dir_.path() / "client";
        options.out = dir_.path() / "server";
        options.revision = 2;
        options.mirrors = mirrors;
        if (!key.empty())
            options.signingKey = dir_.path() / key;
        publish::Publish(options);
    }

    std::string Down() const {
        return "http://127.0.0.1:" + std::to_string(TestHttpServer::ClosedPort()) + "/";
    }

    void Run(const std::string& updateUrl, std::vector<std::string> updateMirrors = {},
             std::vector<signing::PublicKey> keys = {}) {
        RecordingTarget target;
        GFilesThread thread(target);
        thread.TrustedKeys = std::move(keys);
        thread.UpdateUrl = updateUrl;
        thread.UpdateMirrors = std::move(updateMirrors);
        thread.AtRevision = 1;
        thread.ConnectTimeoutS = 5;
        thread.StallTimeoutS = 5;
        thread.Retry.firstPause = std::chrono::milliseconds(5);
        RunToEnd(thread, dir_.path() / "install");
        notes_ = target.Notes();
        causes_ = target.Causes();
        events_ = target.Events();
    }

    std::size_t NotesNaming(const std::string& part) const {
        return static_cast<std::size_t>(std::count_if(
            notes_.begin(), notes_.end(),
            [&](const std::string& note) { return note.find(part) != note.npos; }));
    }

    TempDir dir_;
    TestHttpServer::Handler folder_;
    TestHttpServer primary_, wrong_, busy_;
    std::vector<std::string> notes_, causes_, events_;
};

TEST_F(MirrorTest, MirrorsThatFailAreDroppedAndNamedWhileTheRunCompletes) {
    std::map<std::string, std::string> client;
    for (int k = 0; k < 12; ++k)
        client["data/file" + std::to_string(k) + ".dat"] =
            SampleData(20000 + 3000 * static_cast<std::size_t>(k), static_cast<std::uint32_t>(k));
    client["data/big.pak"] = SampleData(1 << 20, 99);
    const std::string down = Down();
    PublishTree(client, {down, wrong_.Url("/"), busy_.Url("/")});
    // One file is there in an older version: its chunks come over the mirrors too.
    std::string older = client["data/big.pak"];
    older.replace(300000, 5000, std::string(5000, 'x'));
    WriteFile(dir_ / "install/data/big.pak", older);

    Run(primary_.Url("/"));
    EXPECT_TRUE(causes_.empty()) << causes_.front();
    EXPECT_TRUE(Snapshot(dir_.path() / "install") == client);
    for (const std::string& mirror : {down, wrong_.Url("/"), busy_.Url("/")})
        EXPECT_EQ(NotesNaming("the mirror " + mirror + " is not used"), 1u) << mirror;
    EXPECT_EQ(NotesNaming("the mirror " + primary_.Url("/")), 0u);
    EXPECT_TRUE(std::find(events_.begin(), events_.end(), "StoreRevision:2") != events_.end());
}

TEST_F(MirrorTest, AManifestTheUpdateAddressCannotGiveIsAskedOfTheMirrors) {
    const std::map<std::string, std::string> client = {{"data/a.dat", SampleData(50000, 7)}};
    PublishTree(client, {});
    fs::create_directories(dir_.path() / "install");
    const std::string down = Down();
    Run(down, {busy_.Url("/"), primary_.Url("/")});
    EXPECT_TRUE(causes_.empty()) << causes_.front();
    EXPECT_TRUE(Snapshot(dir_.path() / "install") == client);
    EXPECT_EQ(NotesNaming("the manifest is asked of the mirror " + busy_.Url("/")), 1u);
    EXPECT_EQ(NotesNaming("the manifest is asked of the mirror " + primary_.Url("/")), 1u);

    // With none that can give it, the cause is the last one's.
    fs::remove_all(dir_.path() / "install");
    fs::create_directories(dir_.path() / "install");
    Run(down, {busy_.Url("/")});
    ASSERT_FALSE(causes_.empty());
    EXPECT_NE(causes_.front().find(busy_.Url("/")), std::string::npos) << causes_.front();
    EXPECT_FALSE(fs::exists(dir_.path() / "install/data/a.dat"));
}

// Whatever a mirror serves is checked against the signed manifest: one that
// alone is left can keep a run from completing, never change a file.
TEST_F(MirrorTest, AMirrorOfASignedTreeCannotChangeWhatIsInstalled) {
    publish::GenerateKey(dir_.path() / "key.pem");
    const signing::PublicKey key = publish::SigningKey(dir_.path() / "key.pem").PublicKey();
    const std::map<std::string, std::string> client = {{"data/a.dat", SampleData(40000, 3)},
                                                       {"data/b.dat", SampleData(60000, 4)}};
    PublishTree(client, {}, "key.pem");
    WriteFile(dir_ / "install/data/a.dat", "old a");
    Run(Down(), {wrong_.Url("/")}, {key});
    EXPECT_EQ(ReadFile(dir_ / "install/data/a.dat"), "old a");
    EXPECT_FALSE(fs::exists(dir_.path() / "install/data/b.dat"));
    EXPECT_FALSE(causes_.empty());
    EXPECT_TRUE(std::none_of(events_.begin(), events_.end(), [](const std::string& event) {
        return event.rfind("StoreRevision:", 0) == 0;
    }));
    // Beside a mirror that serves the tree as it is, the run completes.
    Run(Down(), {wrong_.Url("/"), primary_.Url("/")}, {key});
    EXPECT_TRUE(Snapshot(dir_.path() / "install") == client);
}

TEST(MirrorSet, SpreadsOverThoseInUseAndKeepsTheLast) {
    TMirrorSet set({"http://a/", "http://b/", "http://c/"});
    EXPECT_EQ(set.Pick(0), 0u);
    EXPECT_EQ(set.Pick(4), 1u);
    EXPECT_TRUE(set.Drop(1));
    EXPECT_FALSE(set.Drop(1)); // once
    EXPECT_EQ(set.Pick(1), 2u);
    EXPECT_TRUE(set.Drop(0));
    EXPECT_FALSE(set.Drop(2)); // the last one in use stays
    EXPECT_EQ(set.Pick(7), 2u);
    EXPECT_EQ(SettingMirrors(" http://m1/x , ftp://no/,https://m2/ ,,"),
              (std::vector<std::string>{"http://m1/x/", "https://m2/"}));
}

} // namespace
