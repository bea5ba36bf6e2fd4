// A small HTTP/1.1 server on a loopback port for tests. It answers every
// request through a handler and can misbehave on purpose: cut a body, stall,
// or close before answering.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace testing_support {

struct HttpRequest {
    std::string method;
    std::string target;
    std::vector<std::pair<std::string, std::string>> headers; // in the order sent

    std::string Header(const std::string& name) const; // case-insensitive; empty when absent
};

struct HttpReply {
    enum class Fault {
        None,
        CutBody,            // send `cutAt` bytes of the announced body, then close
        StallInBody,        // send `cutAt` bytes of the body, then send nothing more
        StallBeforeHeaders, // read the request, answer nothing
        CloseBeforeHeaders, // read the request, close at once
    };
    int status = 200;
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers; // extra headers
    Fault fault = Fault::None;
    std::size_t cutAt = 0;
};

class TestHttpServer {
public:
    using Handler = std::function<HttpReply(const HttpRequest&)>;

    explicit TestHttpServer(Handler handler);
    ~TestHttpServer();
    TestHttpServer(const TestHttpServer&) = delete;
    TestHttpServer& operator=(const TestHttpServer&) = delete;

    std::uint16_t Port() const { return port_; }
    std::string Url(const std::string& path = "/") const;
    std::vector<HttpRequest> Requests() const;

    // Serves the files under `root`; anything else is a 404 page with a body.
    static Handler Folder(std::string root);

    // A loopback port on which nothing listens.
    static std::uint16_t ClosedPort();

private:
    void Loop();
    void Serve(int client);

    Handler handler_;
    int listener_ = -1;
    std::uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_;
    std::vector<HttpRequest> requests_;
    std::thread thread_;
};

} // namespace testing_support
