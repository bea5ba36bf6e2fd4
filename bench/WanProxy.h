// A distant update server on the loopback interface: a TCP proxy that forwards
// every connection it accepts on 127.0.0.1 to a local web server, with the
// delays and the line of a wide-area link between them.
//
//   - each direction holds what it carries for `oneWay` before passing it on,
//     in order;
//   - a new connection costs a round trip before its first request can leave:
//     nothing goes towards the server before `handshake` after the accept
//     (then the one-way delay follows), as with TCP's handshake, so the first
//     byte of the first answer reaches the client two round trips after its
//     connect;
//   - everything towards the client goes through one line of `lineBytesPerSecond`
//     that all connections share (one token bucket, turns taken by connection);
//     requests towards the server are not limited.
//
// The proxy runs on a thread of its own (one epoll loop) until Stop(), its
// destruction or its time limit, whichever comes first; at the limit it closes
// every connection, so that nothing waits on it for ever.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

namespace bench {

struct WanLink {
    std::chrono::microseconds oneWay{25000};
    std::chrono::microseconds handshake{50000};
    double lineBytesPerSecond = 100e6 / 8; // 100 Mbit/s
};

// What went through the proxy so far.
struct WanCounters {
    std::uint64_t connections = 0; // accepted
    std::uint64_t mostOpen = 0;    // the most connections open at once
    std::uint64_t bytesDown = 0;   // delivered to clients
    std::uint64_t bytesUp = 0;     // delivered to the server
};

class WanProxy {
public:
    // Listens on a free port of 127.0.0.1 and forwards to 127.0.0.1:serverPort.
    // Raises std::runtime_error when it cannot listen.
    WanProxy(int serverPort, const WanLink& link, std::chrono::seconds limit);
    ~WanProxy();
    WanProxy(const WanProxy&) = delete;
    WanProxy& operator=(const WanProxy&) = delete;

    int Port() const { return port_; }

    // Ends the loop and closes every connection; waits for the thread.
    void Stop();

    WanCounters Counters() const;

    // Whether the loop still runs.
    bool Running() const { return running_.load(); }

    // Why the loop ended before it was stopped ("" when it did not): its time
    // limit, or a failure of the system.
    std::string Failure() const;

private:
    void Run();

    WanLink link_;
    int serverPort_;
    std::chrono::seconds limit_;
    int listener_ = -1;
    int wake_ = -1; // eventfd: Stop() tells the loop through it
    int port_ = 0;
    std::atomic<std::uint64_t> connections_{0}, mostOpen_{0}, bytesDown_{0}, bytesUp_{0};
    std::atomic<bool> running_{true};
    mutable std::mutex mutex_;
    std::string failure_;
    std::thread thread_;
};

} // namespace bench
