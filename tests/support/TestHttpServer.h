// A small HTTP/1.1 server on a loopback port for tests of the downloads. Each
// connection is served on its own thread and kept alive between requests, so
// tests can check connection reuse and transfers running side by side. It
// answers every request through a handler and can misbehave on purpose: cut a
// body, stall, close before answering, or wait before answering. Ready-made
// handlers serve a folder (with byte ranges and validators) and wrap another
// handler to cut, stall, refuse or change its answers once per address.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <list>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace testing_support {

// A socket as the system hands it out: a descriptor, or Winsock's SOCKET.
#ifdef _WIN32
using SocketHandle = std::uintptr_t;
#else
using SocketHandle = int;
#endif
inline constexpr SocketHandle kNoSocket = static_cast<SocketHandle>(-1);

struct HttpRequest {
    std::string method;
    std::string target;
    std::vector<std::pair<std::string, std::string>> headers; // in the order sent
    std::string body; // as announced by Content-Length; empty without one

    std::string Header(const std::string& name) const; // case-insensitive; empty when absent
};

struct HttpReply {
    enum class Fault {
        None,
        CutBody,            // send `cutAt` bytes of the announced body, then close
        StallInBody,        // send `cutAt` bytes of the body, then send nothing more
        StallBeforeHeaders, // read the request, answer nothing
        CloseBeforeHeaders, // read the request, close at once
        Trickle,            // send `cutAt` bytes of the body, then one byte every `every`
        Endless,            // announce a huge body, then send `body` over and over (2 GiB at most)
    };
    int status = 200;
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers; // extra headers
    Fault fault = Fault::None;
    std::size_t cutAt = 0;
    bool close = false; // close the connection after this reply (a faulted one always does)
    std::chrono::milliseconds delay{0}; // wait this long before sending the headers
    std::chrono::milliseconds every{0}; // Trickle: the pause before each byte
};

// What TestHttpServer::Folder sends besides the files themselves.
struct FolderOptions {
    bool ranges = true;       // answer "Range: bytes=N-" and "N-M" with 206, advertise it
    bool etag = true;         // ETag: a hash of the content
    bool lastModified = true; // Last-Modified: the file's time
};

class TestHttpServer {
public:
    // Called on the connection's thread: with several connections open, calls
    // run at the same time, so a handler must be safe for that. The handlers
    // made below are, and their copies share their state.
    using Handler = std::function<HttpReply(const HttpRequest&)>;

    // Starts listening on a free loopback port. The destructor stops at once,
    // also with idle or stalled connections open.
    explicit TestHttpServer(Handler handler);
    ~TestHttpServer();
    TestHttpServer(const TestHttpServer&) = delete;
    TestHttpServer& operator=(const TestHttpServer&) = delete;

    std::uint16_t Port() const { return port_; }
    std::string Url(const std::string& path = "/") const;
    std::vector<HttpRequest> Requests() const; // in the order their heads arrived

    std::size_t Connections() const { return connections_; }   // accepted so far
    std::uint64_t BodyBytesSent() const { return bodyBytes_; } // cut bodies included
    // The most requests that were being answered at the same moment, counted
    // from the arrival of a request's head until its answer ends.
    std::size_t MaxConcurrentRequests() const;

    // Serves the files under `root`; anything else is a 404 page with a body.
    // A Range is honoured when there is no If-Range or it matches the current
    // ETag or Last-Modified; otherwise the whole file comes with 200. A range
    // starting at or past the end is answered with 416.
    static Handler Folder(std::string root, FolderOptions options = {});

    // The ETag Folder gives `content`, quotes included.
    static std::string EntityTag(std::string_view content);

    // The first answer of `inner` with a 200 or 206 body of at least 2 bytes
    // for each target is cut after `fraction` of the body (closing the
    // connection); later answers pass unchanged.
    static Handler CutEachBodyOnce(Handler inner, double fraction = 0.5);
    // The same, stalling after `fraction` of the body instead.
    static Handler StallEachBodyOnce(Handler inner, double fraction = 0.5);

    // The first `times` requests for each target are answered with `status`
    // (503 or 429) and a small page, with Retry-After when `retryAfter` is
    // given; later requests go to `inner`.
    static Handler UnavailableFirst(Handler inner, int times, std::string retryAfter = {},
                                    int status = 503);

    // The file changes on the server during the first transfer: the first
    // request for a target gets `staleContent(target)` with 200, its own ETag
    // and Accept-Ranges (no Last-Modified), cut after `fraction` of it; later
    // requests go to `inner`, which has the current content. Targets for which
    // `staleContent` gives nothing go to `inner` from the start.
    static Handler ChangesAfterCut(
        Handler inner,
        std::function<std::optional<std::string>(const std::string& target)> staleContent,
        double fraction = 0.5);

    // A loopback port on which nothing listens.
    static std::uint16_t ClosedPort();

private:
    struct Worker {
        std::thread thread;
        std::atomic<bool> done{false};
    };

    void Loop();
    void Serve(SocketHandle client);
    bool Answer(SocketHandle client, const HttpRequest& request, bool clientCloses);

    Handler handler_;
    SocketHandle listener_ = kNoSocket;
    std::uint16_t port_ = 0;
    SocketHandle wake_ = kNoSocket;       // readable once the server stops
    SocketHandle wakeRaiser_ = kNoSocket; // what makes it readable (see sockets::OpenSignal)
    std::atomic<std::size_t> connections_{0};
    std::atomic<std::uint64_t> bodyBytes_{0};
    mutable std::mutex mutex_;
    std::vector<HttpRequest> requests_; // guarded by mutex_
    std::size_t answering_ = 0;         // guarded by mutex_
    std::size_t mostAnswering_ = 0;     // guarded by mutex_
    std::list<Worker> workers_;         // used by the accepting thread only
    std::thread thread_;
};

} // namespace testing_support
