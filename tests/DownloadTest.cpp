#include "Errors.h"
#include "GetFilesThr.h"
#include "Http.h"
#include "TestHttpServer.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <set>

#ifdef _WIN32
#include <windows.h>
#endif

using namespace testing_support;
using Fault = HttpReply::Fault;

namespace {

class DownloadTest : public ::testing::Test {
protected:
    DownloadTest() : transfer_(target_) {
        transfer_.http.connectTimeoutS = 2;
        transfer_.http.stallTimeoutS = 1;
    }

    bool Fetch(const std::string& url) { return transfer_.Download(url, target(), true); }
    std::string target() const { return dir_ / "copy.bz2"; }

    static TestHttpServer::Handler Reply(const HttpReply& reply) {
        return [reply](const HttpRequest&) { return reply; };
    }

    TempDir dir_;
    RecordingTarget target_;
    RunTransfer transfer_;
};

} // namespace

TEST_F(DownloadTest, ReportsRunningTotalsPerBlockThenTheTotalAgainThenZero) {
    HttpReply reply;
    reply.body = SampleData(3000, 1);
    TestHttpServer server(Reply(reply));
    ASSERT_TRUE(Fetch(server.Url("/f.bz2")));
    EXPECT_EQ(ReadFile(target()), reply.body);
    EXPECT_EQ(target_.Events(),
              (std::vector<std::string>{"SetFileProgress:1024", "SetFileProgress:2048",
                                        "SetFileProgress:3000", "SetFileProgress:3000",
                                        "SetFileProgress:0"}));
}

TEST_F(DownloadTest, LargeBodyArrivesWholeInBlocksOf1024) {
    HttpReply reply;
    reply.body = SampleData(1'000'000, 2);
    TestHttpServer server(Reply(reply));
    ASSERT_TRUE(Fetch(server.Url("/big.bz2")));
    EXPECT_EQ(ReadFile(target()), reply.body);
    const auto progress = target_.Values("SetFileProgress");
    ASSERT_EQ(progress.size(), (reply.body.size() + 1023) / 1024 + 2);
    for (std::size_t i = 0; i + 3 < progress.size(); ++i)
        EXPECT_EQ(progress[i], static_cast<std::int64_t>(1024 * (i + 1)));
}

TEST_F(DownloadTest, WithoutProgressOnlyTheFinalResetIsSent) {
    HttpReply reply;
    reply.body = "abc";
    TestHttpServer server(Reply(reply));
    ASSERT_TRUE(transfer_.Download(server.Url("/x"), target(), false));
    EXPECT_EQ(target_.Events(), (std::vector<std::string>{"SetFileProgress:0"}));
}

TEST_F(DownloadTest, SendsOnlyTheAgentAndNoHeadersOfItsOwn) {
    TestHttpServer server(Reply(HttpReply{}));
    ASSERT_TRUE(Fetch(server.Url("/path/files.lst.bz2")));
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].target, "/path/files.lst.bz2");
    EXPECT_EQ(requests[0].Header("User-Agent"), "ZentyrClientUpdater");
    const std::set<std::string> allowed = {"Host", "User-Agent", "Accept"};
    for (const auto& [name, value] : requests[0].headers)
        EXPECT_TRUE(allowed.count(name)) << "unexpected header " << name << ": " << value;
}

TEST_F(DownloadTest, AnErrorPageIsStillABody) {
    HttpReply reply;
    reply.status = 404;
    reply.body = "<html>Not Found</html>";
    TestHttpServer server(Reply(reply));
    EXPECT_TRUE(Fetch(server.Url("/missing.bz2")));
    EXPECT_EQ(ReadFile(target()), reply.body);
}

TEST_F(DownloadTest, EmptyBodyGivesAnEmptyFile) {
    TestHttpServer server(Reply(HttpReply{}));
    EXPECT_TRUE(Fetch(server.Url("/empty.bz2")));
    ASSERT_TRUE(Exists(target()));
    EXPECT_EQ(ReadFile(target()), "");
    EXPECT_EQ(target_.Values("SetFileProgress"), (std::vector<std::int64_t>{0, 0}));
}

TEST_F(DownloadTest, RedirectsAreFollowed) {
    TestHttpServer server([](const HttpRequest& request) {
        HttpReply reply;
        if (request.target == "/old") {
            reply.status = 302;
            reply.headers = {{"Location", "/new"}};
        } else {
            reply.body = "moved content";
        }
        return reply;
    });
    EXPECT_TRUE(Fetch(server.Url("/old")));
    EXPECT_EQ(ReadFile(target()), "moved content");
}

TEST_F(DownloadTest, BrokenOrStalledBodyKeepsWhatArrived) {
    for (Fault fault : {Fault::CutBody, Fault::StallInBody}) {
        HttpReply reply;
        reply.body = SampleData(5000, 3);
        reply.fault = fault;
        reply.cutAt = 2500;
        TestHttpServer server(Reply(reply));
        const auto started = std::chrono::steady_clock::now();
        EXPECT_TRUE(Fetch(server.Url("/f.bz2")));
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
        EXPECT_EQ(ReadFile(target()), reply.body.substr(0, 2500));
        EXPECT_EQ(target_.Values("SetFileProgress").back(), 0);
    }
}

TEST_F(DownloadTest, AddressesThatCannotBeOpenedGiveFalseAndNoFile) {
    HttpReply stall;
    stall.fault = Fault::StallBeforeHeaders;
    HttpReply close;
    close.fault = Fault::CloseBeforeHeaders;
    TestHttpServer stalling(Reply(stall));
    TestHttpServer closing(Reply(close));
    const std::string closedPort =
        "http://127.0.0.1:" + std::to_string(TestHttpServer::ClosedPort()) + "/f.bz2";
    for (const std::string& url :
         {closedPort, stalling.Url("/f.bz2"), closing.Url("/f.bz2"),
          std::string("http://host.invalid/f.bz2"), std::string("not an address"),
          std::string("ftp://127.0.0.1/x")}) {
        const auto started = std::chrono::steady_clock::now();
        EXPECT_FALSE(Fetch(url)) << url;
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10)) << url;
        EXPECT_FALSE(Exists(target())) << url;
        EXPECT_EQ(target_.Events().back(), "SetFileProgress:0") << url;
    }
}

TEST_F(DownloadTest, UnwritableTargetRaisesAndSkipsTheFinalReset) {
    HttpReply reply;
    reply.body = "data";
    TestHttpServer server(Reply(reply));
    EXPECT_THROW(transfer_.Download(server.Url("/f"), dir_ / "no/folder/f.bz2", true), EInOutError);
    EXPECT_TRUE(target_.Events().empty());
}

// ---------------------------------------------------------------------------
// The transfers' proxy, as the system's settings name it.

#ifdef _WIN32
namespace {

constexpr const wchar_t* kInternetSettings =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

// Sets the user's proxy settings for the life of the object, then removes them.
class InternetSettings {
public:
    InternetSettings(DWORD enable, const std::wstring& server, const std::wstring& overrides) {
        ::RegSetKeyValueW(HKEY_CURRENT_USER, kInternetSettings, L"ProxyEnable", REG_DWORD, &enable,
                          sizeof enable);
        Set(L"ProxyServer", server);
        Set(L"ProxyOverride", overrides);
    }
    ~InternetSettings() {
        for (const wchar_t* name : {L"ProxyEnable", L"ProxyServer", L"ProxyOverride"})
            ::RegDeleteKeyValueW(HKEY_CURRENT_USER, kInternetSettings, name);
    }
    InternetSettings(const InternetSettings&) = delete;
    InternetSettings& operator=(const InternetSettings&) = delete;

private:
    static void Set(const wchar_t* name, const std::wstring& text) {
        ::RegSetKeyValueW(HKEY_CURRENT_USER, kInternetSettings, name, REG_SZ, text.c_str(),
                          static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    }
};

std::string Body(const std::string& url) {
    platform::HttpConnection connection;
    platform::HttpOptions options;
    options.agent = "ZentyrClientUpdater";
    std::string body;
    connection.Get(url, options,
                   {{}, [&](const char* data, std::size_t size) { body.append(data, size); }});
    return body;
}

} // namespace

TEST(SystemProxy, TheUsersInternetSettingsSendTransfersThroughTheirProxy) {
    TestHttpServer proxy([](const HttpRequest& request) {
        HttpReply reply;
        reply.body = "through the proxy: " + request.target;
        return reply;
    });
    TestHttpServer direct([](const HttpRequest&) {
        HttpReply reply;
        reply.body = "direct";
        return reply;
    });
    const std::wstring port = std::to_wstring(proxy.Port());
    {
        InternetSettings settings(1, L"http=127.0.0.1:" + port + L";ftp=other:21",
                                  L"*.direct.example; <local>");
        const platform::ProxySettings system = platform::SystemProxy();
        EXPECT_EQ(system.http, "127.0.0.1:" + std::to_string(proxy.Port()));
        EXPECT_EQ(system.https, "");
        EXPECT_EQ(system.bypass, ".direct.example,localhost,127.0.0.1,::1");
        EXPECT_EQ(Body("http://files.quenmor.example/a.txt"),
                  "through the proxy: http://files.quenmor.example/a.txt");
        EXPECT_EQ(Body(direct.Url("/b.txt")), "direct"); // a local address goes direct
        ASSERT_EQ(proxy.Requests().size(), 1u);
        EXPECT_EQ(proxy.Requests()[0].Header("User-Agent"), "ZentyrClientUpdater");
    }
    {
        InternetSettings one(1, L"127.0.0.1:" + port, L"");
        EXPECT_EQ(platform::SystemProxy().https, "127.0.0.1:" + std::to_string(proxy.Port()));
    }
    {
        InternetSettings off(0, L"127.0.0.1:" + port, L"");
        EXPECT_EQ(platform::SystemProxy().http, "");
    }
}
#endif
