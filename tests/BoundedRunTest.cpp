// What a broken or hostile update server cannot make a run do: write more
// than an entry allows (a copy that unpacks to a million times its size, a
// body without end, for a listed file, the manifest or a new launcher build),
// or keep it waiting for ever by trickling bytes. Each time the run ends, the
// file that passed its bound fails alone, its cause names the bound, and
// nothing of it is left on disk.
#include "GetFilesThr.h"
#include "TestHttpServer.h"
#include "TestSupport.h"
#include "md5.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>

using namespace testing_support;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using Fault = HttpReply::Fault;

namespace {

const std::string kOld = "the old content", kGood = "the good file's new content";

std::string Sha256Hex(const std::string& data) {
    TSHA256 digest;
    digest.Update(data.data(), data.size());
    return digest.FinalText();
}

// A file line as the publisher writes it: content size, SHA-256, path, MD5
// and the copy's size.
std::string Line(const std::string& path, const std::string& content, std::size_t copySize,
                 std::int64_t contentSize = -1) {
    return std::to_string(contentSize >= 0 ? contentSize
                                           : static_cast<std::int64_t>(content.size())) +
           "|" + Sha256Hex(content) + "|" + path + "|" + Md5Hex(content) + "|" +
           std::to_string(copySize);
}

class BoundedRunTest : public ::testing::Test {
protected:
    BoundedRunTest() {
        WriteFile(dir_ / "install/data/bad.dat", kOld);
        WriteFile(dir_ / "install/game.exe", "the launcher as installed");
        fs::create_directories(dir_.path() / "server");
    }

    // Serves the tree, with `fault` in the answer for `faulty` (a path).
    void Serve(const std::string& faulty = {}, const std::function<void(HttpReply&)>& fault = {}) {
        server_ = std::make_unique<TestHttpServer>([files = TestHttpServer::Folder(dir_ / "server"),
                                                    faulty, fault](const HttpRequest& request) {
            HttpReply reply = files(request);
            if (request.target == faulty)
                fault(reply);
            return reply;
        });
    }

    // Publishes data/good.dat, data/bad.dat with `badCopy` for a content of
    // `badContentSize` bytes, and a self entry when `self` is given.
    void Publish(const std::string& badCopy, std::int64_t badContentSize,
                 const std::string& self = {}) {
        const std::string good = Bzip2(kGood);
        WriteFile(dir_ / "server/data/good.dat.bz2", good);
        WriteFile(dir_ / "server/data/bad.dat.bz2", badCopy);
        std::string lines =
            Line("data\\bad.dat", "what it should be", badCopy.size(), badContentSize) + "\r\n" +
            Line("data\\good.dat", kGood, good.size()) + "\r\n";
        WriteFile(dir_ / "server/files.lst.bz2",
                  Bzip2("[settings]\r\nRev|2\r\nModHosts|0\r\n[/settings]\r\n[self]\r\n" + self +
                        "\r\n[/self]\r\n[files_normal]\r\n" + lines + "[/files_normal]\r\n"));
    }

    std::vector<std::string> Run(const std::function<void(GFilesThread&)>& configure = {}) {
        GFilesThread thread(target_);
        thread.UpdateUrl = server_->Url("/");
        thread.AtRevision = 1;
        thread.LauncherFile = dir_ / "install/game.exe";
        thread.Retry.firstPause = std::chrono::milliseconds(10);
        if (configure)
            configure(thread);
        RunToEnd(thread, dir_.path() / "install", std::chrono::seconds(200));
        return target_.EventsWithoutFileProgress();
    }

    // Nothing of the run stays in the installation: no copy, no temporary
    // file, no new launcher build, no manifest.
    std::vector<std::string> Leftovers() const {
        std::vector<std::string> found;
        for (const auto& entry : fs::recursive_directory_iterator(dir_.path() / "install")) {
            const std::string name = entry.path().filename().string();
            if (platform::IsOwnTempFileName(name) || entry.path().extension() == ".bz2" ||
                entry.path().extension() == ".New" || name == "files.lst")
                found.push_back(name);
        }
        return found;
    }

    TempDir dir_;
    std::unique_ptr<TestHttpServer> server_;
    RecordingTarget target_;
};

void ExpectFailedRun(const std::vector<std::string>& events) {
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(events.end()[-2], std::string("ShowStatus:") + status::kFailed);
    EXPECT_EQ(events.back(), "UnlockCommands");
}

} // namespace

// A few hundred bytes that unpack to 64 MiB, for a file of 1000 bytes: the
// unpacking stops at byte 1001 and that file fails alone.
TEST_F(BoundedRunTest, CopyUnpacksNoFurtherThanItsContentSize) {
    Publish(Bzip2Zeros(std::uint64_t{64} << 20), 1000);
    Serve();
    ExpectFailedRun(Run());
    EXPECT_EQ(ReadFile(dir_ / "install/data/bad.dat"), kOld);
    EXPECT_EQ(ReadFile(dir_ / "install/data/good.dat"), kGood);
    EXPECT_TRUE(target_.HasCause("is longer than the 1000 bytes its entry lists"));
    EXPECT_EQ(Leftovers(), std::vector<std::string>{});
}

// A body without end for a copy, for the manifest and for a new launcher
// build: each transfer stops one byte past what may come, and the run ends.
TEST_F(BoundedRunTest, EndlessBodiesStopAtTheirBound) {
    const std::string bad = Bzip2("what it should be");
    const auto endless = [](HttpReply& reply) {
        reply.fault = Fault::Endless;
        reply.body = std::string(65536, 'x');
    };
    Publish(bad, -1);
    Serve("/data/bad.dat.bz2", endless);
    ExpectFailedRun(Run());
    EXPECT_EQ(ReadFile(dir_ / "install/data/good.dat"), kGood);
    EXPECT_TRUE(target_.HasCause("the body is longer than the " + std::to_string(bad.size()) +
                                 " bytes its entry lists"));
    EXPECT_LT(server_->BodyBytesSent(), std::uint64_t{16} << 20);

    target_.Clear();
    Serve("/files.lst.bz2", endless);
    ExpectFailedRun(Run());
    EXPECT_TRUE(target_.HasCause("the body is longer than the 64 MiB a manifest's copy may take"));

    target_.Clear();
    const std::string build = "a new launcher build";
    const std::string buildCopy = Bzip2(build);
    WriteFile(dir_ / "server/game.exe.bz2", buildCopy);
    Publish(bad, -1, Line("game.exe", build, buildCopy.size()));
    Serve("/game.exe.bz2", endless);
    ExpectFailedRun(Run());
    EXPECT_EQ(ReadFile(dir_ / "install/game.exe"), "the launcher as installed");
    EXPECT_TRUE(target_.HasCause("the launcher build is not replaced: " + server_->Url("/") +
                                 "game.exe.bz2: the body is longer than the " +
                                 std::to_string(buildCopy.size()) + " bytes its entry lists"));
    EXPECT_EQ(Leftovers(), std::vector<std::string>{});
}

// A new launcher build that unpacks past its content size is never started.
TEST_F(BoundedRunTest, LauncherBuildUnpacksNoFurtherThanItsContentSize) {
    const std::string bomb = Bzip2Zeros(std::uint64_t{64} << 20);
    WriteFile(dir_ / "server/game.exe.bz2", bomb);
    Publish(Bzip2("what it should be"), -1, Line("game.exe", "a build", bomb.size(), 1000));
    Serve();
    ExpectFailedRun(Run());
    EXPECT_EQ(ReadFile(dir_ / "install/game.exe"), "the launcher as installed");
    EXPECT_FALSE(Exists(dir_ / "install/Update.sh") || Exists(dir_ / "install/Update.bat"));
    EXPECT_TRUE(target_.HasCause("is longer than the 1000 bytes its entry lists"));
    EXPECT_EQ(Leftovers(), std::vector<std::string>{});
}

// A server that sends ten bytes a second keeps every transfer alive by the
// old rule of silence. Each try now ends once a window (here 1 s) passes
// below the least speed, and the file is given up after its tries.
TEST_F(BoundedRunTest, TricklingServerIsGivenUpAfterItsTries) {
    Publish(Bzip2("what it should be") + std::string(4000, 'x'), -1);
    Serve("/data/bad.dat.bz2", [](HttpReply& reply) {
        reply.fault = Fault::Trickle;
        reply.every = std::chrono::milliseconds(100);
    });
    const auto started = Clock::now();
    ExpectFailedRun(Run([](GFilesThread& thread) { thread.StallTimeoutS = 1; }));
    EXPECT_LT(Clock::now() - started, std::chrono::seconds(20));
    EXPECT_TRUE(target_.HasCause("below 1024 bytes/s"));
    EXPECT_TRUE(target_.HasCause("after 4 tries"));
    EXPECT_EQ(ReadFile(dir_ / "install/data/bad.dat"), kOld);
}
