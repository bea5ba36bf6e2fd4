// A server that sends one byte every 10 s, at the real limits: every try of
// the file ends after 30 s below 1 KiB/s, and with its 4 tries and their
// pauses the run gives the file up within about 2.5 minutes. It takes that
// long, so it runs in the optimised build only.
#include "GetFilesThr.h"
#include "TestHttpServer.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>

using namespace testing_support;

TEST(SlowServer, ByteEveryTenSecondsIsGivenUpWithinTwoAndAHalfMinutes) {
    TempDir dir;
    const std::string copy = Bzip2("the new content") + std::string(100, 'x');
    WriteFile(dir / "server/a.dat.bz2", copy);
    WriteFile(dir / "server/files.lst.bz2",
              Bzip2("[settings]\r\nRev|2\r\nModHosts|0\r\n[/settings]\r\n[files_normal]\r\na.dat|" +
                    Md5Hex("the new content") + "|" + std::to_string(copy.size()) +
                    "\r\n[/files_normal]\r\n"));
    WriteFile(dir / "install/a.dat", "old");
    TestHttpServer server([files = TestHttpServer::Folder(dir / "server")](const HttpRequest& r) {
        HttpReply reply = files(r);
        if (r.target == "/a.dat.bz2") {
            reply.fault = HttpReply::Fault::Trickle;
            reply.every = std::chrono::seconds(10);
        }
        return reply;
    });
    RecordingTarget target;
    GFilesThread thread(target);
    thread.UpdateUrl = server.Url("/");
    thread.AtRevision = 1;
    const auto started = std::chrono::steady_clock::now();
    RunToEnd(thread, dir.path() / "install", std::chrono::seconds(200));
    const auto took = std::chrono::steady_clock::now() - started;
    EXPECT_GT(took, std::chrono::seconds(110)); // 4 tries of 30 s
    EXPECT_LT(took, std::chrono::seconds(165));
    const auto events = target.EventsWithoutFileProgress();
    EXPECT_EQ(events.end()[-2], std::string("ShowStatus:") + status::kFailed);
    EXPECT_TRUE(target.HasCause("after 4 tries"));
    EXPECT_EQ(ReadFile(dir / "install/a.dat"), "old");
}
