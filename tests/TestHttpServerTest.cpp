#include "TestHttpServer.h"
#include "Sockets.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

using namespace testing_support;
using Clock = std::chrono::steady_clock;

namespace {

struct Answer {
    std::string head, body;
    bool closed = false; // the server closed the connection after it
    int Status() const { return std::stoi(head.substr(9, 3)); }
    std::string Header(const std::string& name) const { // empty when absent
        const std::size_t at = head.find("\r\n" + name + ": "), from = at + name.size() + 4;
        return at == std::string::npos ? "" : head.substr(from, head.find("\r\n", from) - from);
    }
};

// One raw connection, so the tests see exactly what the server sends.
class Client {
public:
    explicit Client(std::uint16_t port) : fd_(sockets::ConnectLoopback(port, 2)) {
        EXPECT_NE(fd_, kNoSocket);
    }
    ~Client() { sockets::Close(fd_); }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    void Send(const std::string& target, const std::string& headers = {}) {
        const std::string request = "GET " + target + " HTTP/1.1\r\nHost: t\r\n" + headers + "\r\n";
        std::size_t sent = 0;
        for (int i = 0; i < 1000 && sent < request.size(); ++i) {
            const std::ptrdiff_t n =
                sockets::SendSome(fd_, request.data() + sent, request.size() - sent);
            if (n < 0 && !sockets::Transient())
                break;
            if (n > 0)
                sent += static_cast<std::size_t>(n);
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        EXPECT_EQ(sent, request.size());
    }
    Answer Receive() {
        Answer answer;
        std::string data;
        for (int i = 0; i < 1000; ++i) {
            const std::size_t headEnd = data.find("\r\n\r\n");
            if (answer.head.empty() && headEnd != std::string::npos)
                answer.head = data.substr(0, headEnd + 2);
            if (!answer.head.empty() &&
                data.size() >= answer.head.size() + 2 + std::stoul(answer.Header("Content-Length")))
                break;
            char buffer[4096];
            const std::ptrdiff_t n = sockets::Receive(fd_, buffer, sizeof buffer);
            if ((answer.closed = n == 0) || n < 0)
                break;
            data.append(buffer, static_cast<std::size_t>(n));
        }
        answer.body = data.substr(std::min(data.size(), answer.head.size() + 2));
        char byte;
        if (answer.Header("Connection") == "close" && !answer.closed)
            answer.closed = sockets::Receive(fd_, &byte, 1) == 0;
        return answer;
    }
    Answer Get(const std::string& target, const std::string& headers = {}) {
        Send(target, headers);
        return Receive();
    }

private:
    SocketHandle fd_;
};

// "body of <target>"; the answers for /slow... wait long enough to overlap.
HttpReply Slow(const HttpRequest& request) {
    HttpReply reply;
    reply.body = "body of " + request.target;
    if (request.target.rfind("/slow", 0) == 0)
        reply.delay = std::chrono::milliseconds(300);
    reply.close = request.target == "/last";
    if (request.target == "/stall") {
        reply.fault = HttpReply::Fault::StallInBody;
        reply.cutAt = 4;
    }
    return reply;
}

} // namespace

TEST(TestHttpServerTest, KeepsConnectionsAliveServesThemSideBySideAndStopsAtOnce) {
    auto server = std::make_unique<TestHttpServer>(Slow);
    std::vector<std::unique_ptr<Client>> clients;
    for (int i = 0; i < 3; ++i) {
        clients.push_back(std::make_unique<Client>(server->Port()));
        clients.back()->Send("/slow" + std::to_string(i));
    }
    for (std::size_t i = 0; i < 3; ++i)
        EXPECT_EQ(clients[i]->Receive().body, "body of /slow" + std::to_string(i));
    EXPECT_EQ(server->MaxConcurrentRequests(), 3u);

    Client reused(server->Port());
    EXPECT_EQ(reused.Get("/a").Header("Connection"), "keep-alive");
    const Answer again = reused.Get("/b");
    EXPECT_EQ(again.body, "body of /b");
    EXPECT_FALSE(again.closed);
    EXPECT_TRUE(reused.Get("/b", "Connection: close\r\n").closed);
    EXPECT_TRUE(Client(server->Port()).Get("/last").closed);
    EXPECT_EQ(server->Connections(), 5u);
    // The server counts a body once its send returns, which may be after the
    // client has read it.
    const std::uint64_t whole = 3 * 14 + 3 * 10 + 13;
    for (int i = 0; i < 200 && server->BodyBytesSent() < whole; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(server->BodyBytesSent(), whole);

    Client stalled(server->Port());
    stalled.Send("/stall");
    for (int i = 0; i < 200 && server->BodyBytesSent() < whole + 4; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(server->BodyBytesSent(), whole + 4);
    const auto start = Clock::now();
    server.reset(); // with one stalled and three idle connections open
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(300));
}

TEST(TestHttpServerTest, FolderAnswersRangesOnlyForTheCurrentValidator) {
    TempDir dir;
    WriteFile(dir / "f", "0123456789");
    TestHttpServer server(TestHttpServer::Folder(dir.path().string()));
    Client client(server.Port());
    const Answer whole = client.Get("/f");
    EXPECT_EQ(whole.body, "0123456789");
    EXPECT_EQ(whole.Header("ETag"), TestHttpServer::EntityTag("0123456789"));
    EXPECT_EQ(whole.Header("Accept-Ranges"), "bytes");
    const std::string tag = whole.Header("ETag"), date = whole.Header("Last-Modified");
    EXPECT_EQ(date.size(), 29u) << date;

    for (const std::string& ifRange : {std::string(), tag, date}) {
        const std::string headers = ifRange.empty() ? "" : "If-Range: " + ifRange + "\r\n";
        const Answer tail = client.Get("/f", "Range: bytes=4-\r\n" + headers);
        EXPECT_EQ(tail.Status(), 206);
        EXPECT_EQ(tail.Header("Content-Range"), "bytes 4-9/10");
        EXPECT_EQ(tail.body, "456789");
    }
    EXPECT_EQ(client.Get("/f", "Range: bytes=2-3\r\n").body, "23");
    EXPECT_EQ(client.Get("/f", "Range: bytes=2-\r\nIf-Range: \"0\"\r\n").body, "0123456789");
    const Answer past = client.Get("/f", "Range: bytes=10-\r\n");
    EXPECT_EQ(past.Status(), 416);
    EXPECT_EQ(past.Header("Content-Range"), "bytes */10");

    TestHttpServer plain(TestHttpServer::Folder(dir.path().string(), {false, false, false}));
    const Answer ignored = Client(plain.Port()).Get("/f", "Range: bytes=4-\r\n");
    EXPECT_EQ(ignored.Status(), 200);
    EXPECT_EQ(ignored.body, "0123456789");
    EXPECT_EQ(ignored.head.find("Accept-Ranges"), std::string::npos);
    EXPECT_EQ(ignored.head.find("ETag"), std::string::npos);
}

TEST(TestHttpServerTest, WrappersMisbehaveOncePerTarget) {
    TempDir dir;
    WriteFile(dir / "a", "current content");
    const auto folder = TestHttpServer::Folder(dir.path().string());
    TestHttpServer server(
        TestHttpServer::UnavailableFirst(TestHttpServer::CutEachBodyOnce(folder), 1, "2", 429));
    const Answer refused = Client(server.Port()).Get("/a");
    EXPECT_EQ(refused.Status(), 429);
    EXPECT_EQ(refused.Header("Retry-After"), "2");
    const Answer cut = Client(server.Port()).Get("/a");
    EXPECT_EQ(cut.body, "current");
    EXPECT_TRUE(cut.closed);
    EXPECT_EQ(Client(server.Port()).Get("/a", "Range: bytes=7-\r\n").body, " content");
    EXPECT_EQ(Client(server.Port()).Get("/b").Status(), 429);

    TestHttpServer changing(TestHttpServer::ChangesAfterCut(
        folder, [](const std::string& target) -> std::optional<std::string> {
            return target == "/a" ? std::optional<std::string>("stale text") : std::nullopt;
        }));
    const Answer stale = Client(changing.Port()).Get("/a");
    EXPECT_EQ(stale.body, "stale");
    EXPECT_TRUE(stale.closed);
    EXPECT_EQ(stale.Header("ETag"), TestHttpServer::EntityTag("stale text"));
    const Answer resumed =
        Client(changing.Port())
            .Get("/a", "Range: bytes=5-\r\nIf-Range: " + stale.Header("ETag") + "\r\n");
    EXPECT_EQ(resumed.Status(), 200);
    EXPECT_EQ(resumed.body, "current content");
}
