#include "WanProxy.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <stdexcept>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace bench {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kHeld = 1024 * 1024; // at most this much held per direction
constexpr std::size_t kReadSize = 64 * 1024;
constexpr std::size_t kMaxOpen = 256;      // connections beyond are closed at once
constexpr std::size_t kTurn = 16 * 1024;   // what a connection passes through the line per turn
constexpr std::size_t kWakeFor = 8 * 1024; // the line waits for this much credit
constexpr double kBurst = 0.002;           // the bucket holds this many seconds of the line
constexpr std::uint64_t kListener = ~std::uint64_t{0};
constexpr std::uint64_t kWake = kListener - 1;

struct Chunk {
    std::string bytes;
    std::size_t sent = 0;
    Clock::time_point due{};
    bool end = false; // the end of the stream, passed on as a shutdown
};

// One direction of a connection.
struct Stream {
    int to = -1;
    std::deque<Chunk> line;   // towards the client only: waiting for the line
    std::deque<Chunk> flight; // on the way, passed on at their due time
    std::size_t held = 0;     // bytes in both queues
    bool ended = false;       // the source ended: its end is queued
    bool closed = false;      // the end was passed on
    bool blocked = false;     // the destination takes no more for now
};

struct Connection {
    std::uint64_t id = 0;
    int client = -1;
    int server = -1;
    bool connecting = true; // the connect to the server has not finished
    Clock::time_point accepted{};
    Stream up;                                        // client to server
    Stream down;                                      // server to client
    std::uint32_t clientMask = 0, serverMask = 0;     // as registered (0: not registered)
    std::uint32_t clientEvents = 0, serverEvents = 0; // reported in this turn
    bool broken = false;
};

[[noreturn]] void Fail(const char* what) {
    throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
}

void NoDelay(int fd) {
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

sockaddr_in Loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

class EventLoop {
public:
    EventLoop(const WanLink& link, int serverPort, int listener, int wake)
        : link_(link), serverPort_(serverPort), listener_(listener), wake_(wake) {
        epoll_ = ::epoll_create1(EPOLL_CLOEXEC);
        if (epoll_ < 0)
            Fail("epoll_create1");
        Add(listener_, kListener);
        Add(wake_, kWake);
        buffer_.resize(kReadSize);
        burst_ = std::max(1.0, link_.lineBytesPerSecond * kBurst);
    }
    ~EventLoop() {
        for (auto& [id, connection] : connections_)
            CloseSockets(*connection);
        ::close(epoll_);
    }
    EventLoop(const EventLoop&) = delete;
    EventLoop& operator=(const EventLoop&) = delete;

    std::atomic<std::uint64_t>* connections = nullptr;
    std::atomic<std::uint64_t>* mostOpen = nullptr;
    std::atomic<std::uint64_t>* bytesDown = nullptr;
    std::atomic<std::uint64_t>* bytesUp = nullptr;

    // Runs until told to stop (true) or until `deadline` (false).
    bool Run(Clock::time_point deadline) {
        std::vector<epoll_event> events(64);
        lineTime_ = Clock::now();
        while (true) {
            Clock::time_point now = Clock::now();
            if (now >= deadline)
                return false;
            const auto wait =
                std::min<Clock::duration>(NextTime(now, deadline) - now, std::chrono::seconds(1));
            const auto ns = std::max<std::int64_t>(
                0, std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count());
            const timespec timeout{static_cast<time_t>(ns / 1000000000),
                                   static_cast<long>(ns % 1000000000)};
            const int n = ::epoll_pwait2(epoll_, events.data(), static_cast<int>(events.size()),
                                         &timeout, nullptr);
            if (n < 0 && errno != EINTR)
                Fail("epoll_pwait2");
            for (int i = 0; i < n; ++i) {
                const epoll_event& event = events[static_cast<std::size_t>(i)];
                if (event.data.u64 == kWake)
                    return true;
                if (event.data.u64 == kListener) {
                    AcceptAll();
                    continue;
                }
                const auto found = connections_.find(event.data.u64 >> 1);
                if (found == connections_.end())
                    continue;
                if (event.data.u64 & 1)
                    found->second->serverEvents |= event.events;
                else
                    found->second->clientEvents |= event.events;
            }
            now = Clock::now();
            for (auto& [id, connection] : connections_)
                ReadSides(*connection, now);
            PassLine(now);
            for (auto it = connections_.begin(); it != connections_.end();) {
                Connection& connection = *it->second;
                WriteSides(connection, now);
                if (connection.broken || (connection.up.closed && connection.down.closed)) {
                    CloseSockets(connection);
                    it = connections_.erase(it);
                } else {
                    Register(connection);
                    ++it;
                }
            }
        }
    }

private:
    void Add(int fd, std::uint64_t data) {
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.u64 = data;
        if (::epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &event) != 0)
            Fail("epoll_ctl");
    }

    // Registers a socket for what its connection waits for; a socket that
    // waits for nothing is left out, so that its hang-up does not wake the loop.
    void Watch(int fd, std::uint64_t data, std::uint32_t& registered, std::uint32_t wanted) {
        if (wanted == registered)
            return;
        epoll_event event{};
        event.events = wanted;
        event.data.u64 = data;
        const int op = wanted == 0       ? EPOLL_CTL_DEL
                       : registered == 0 ? EPOLL_CTL_ADD
                                         : EPOLL_CTL_MOD;
        if (::epoll_ctl(epoll_, op, fd, &event) != 0)
            Fail("epoll_ctl");
        registered = wanted;
    }

    void Register(Connection& c) {
        std::uint32_t client = 0, server = 0;
        if (!c.up.ended && c.up.held < kHeld)
            client |= EPOLLIN;
        if (c.down.blocked)
            client |= EPOLLOUT;
        if (c.connecting) {
            server = EPOLLOUT;
        } else {
            if (!c.down.ended && c.down.held < kHeld)
                server |= EPOLLIN;
            if (c.up.blocked)
                server |= EPOLLOUT;
        }
        Watch(c.client, c.id << 1, c.clientMask, client);
        Watch(c.server, c.id << 1 | 1, c.serverMask, server);
        c.clientEvents = c.serverEvents = 0;
    }

    void CloseSockets(Connection& c) {
        ::close(c.client);
        ::close(c.server);
        --open_;
    }

    void AcceptAll() {
        for (int i = 0; i < 64; ++i) {
            const int client = ::accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (client < 0) {
                if (errno == EAGAIN || errno == EWOULDBLOCK || errno == ECONNABORTED ||
                    errno == EINTR)
                    return;
                if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM)
                    return; // tried again on the next turn
                Fail("accept4");
            }
            connections->fetch_add(1);
            if (open_ >= kMaxOpen) {
                ::close(client);
                continue;
            }
            const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            if (server < 0) {
                ::close(client);
                continue;
            }
            NoDelay(client);
            NoDelay(server);
            auto c = std::make_unique<Connection>();
            c->id = ++lastId_;
            c->client = client;
            c->server = server;
            c->accepted = Clock::now();
            c->up.to = server;
            c->down.to = client;
            const sockaddr_in address = Loopback(serverPort_);
            if (::connect(server, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
                c->connecting = false;
            else if (errno != EINPROGRESS)
                c->broken = true;
            ++open_;
            if (open_ > mostOpen->load())
                mostOpen->store(open_);
            if (c->broken) {
                CloseSockets(*c);
                continue;
            }
            Register(*c);
            connections_.emplace(c->id, std::move(c));
        }
    }

    // Takes what a socket has to give into a stream, up to what it may hold.
    // Towards the server the bytes go on their way at once (after the
    // connection's handshake); towards the client they wait for the line.
    void Take(Connection& c, int fd, Stream& s, bool towardsClient, Clock::time_point now) {
        const Clock::time_point due = std::max(now, c.accepted + link_.handshake) + link_.oneWay;
        for (int i = 0; i < 64 && !s.ended && s.held < kHeld; ++i) {
            const ssize_t n = ::read(fd, buffer_.data(), std::min(kReadSize, kHeld - s.held));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                return;
            if (n < 0) {
                c.broken = true;
                return;
            }
            Chunk chunk;
            if (n == 0) {
                chunk.end = true;
                s.ended = true;
            } else {
                chunk.bytes.assign(buffer_.data(), static_cast<std::size_t>(n));
                s.held += chunk.bytes.size();
            }
            chunk.due = due;
            (towardsClient ? s.line : s.flight).push_back(std::move(chunk));
        }
    }

    void ReadSides(Connection& c, Clock::time_point now) {
        const std::uint32_t ready = EPOLLIN | EPOLLHUP | EPOLLERR;
        if (c.connecting && (c.serverEvents & (EPOLLOUT | EPOLLHUP | EPOLLERR))) {
            int error = 0;
            socklen_t size = sizeof error;
            if (::getsockopt(c.server, SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0)
                c.broken = true;
            else
                c.connecting = false;
            c.serverEvents &= ~std::uint32_t{EPOLLOUT};
        }
        if (c.broken)
            return;
        if (c.clientEvents & ready)
            Take(c, c.client, c.up, false, now);
        if (!c.connecting && (c.serverEvents & ready))
            Take(c, c.server, c.down, true, now);
        if (c.clientEvents & (EPOLLOUT | EPOLLHUP | EPOLLERR))
            c.down.blocked = false;
        if (c.serverEvents & (EPOLLOUT | EPOLLHUP | EPOLLERR))
            c.up.blocked = false;
    }

    // Moves the chunk at the head of a line queue into flight, as far as
    // `bytes` go; an end passes free.
    static std::size_t Pass(Stream& s, std::size_t bytes, Clock::time_point due) {
        std::size_t passed = 0;
        while (!s.line.empty()) {
            Chunk& head = s.line.front();
            if (head.end) {
                s.flight.push_back(Chunk{{}, 0, due, true});
                s.line.pop_front();
                continue;
            }
            const std::size_t take = std::min(head.bytes.size() - head.sent, bytes - passed);
            if (take == 0)
                break;
            if (!s.flight.empty() && !s.flight.back().end && s.flight.back().due == due)
                s.flight.back().bytes.append(head.bytes, head.sent, take);
            else
                s.flight.push_back(Chunk{head.bytes.substr(head.sent, take), 0, due, false});
            head.sent += take;
            passed += take;
            if (head.sent == head.bytes.size())
                s.line.pop_front();
        }
        return passed;
    }

    // The shared line towards the clients: its credit grows at its rate, and
    // the connections with something to send take turns of kTurn bytes.
    void PassLine(Clock::time_point now) {
        const double elapsed = std::chrono::duration<double>(now - lineTime_).count();
        lineTime_ = now;
        credit_ = std::min(burst_, credit_ + elapsed * link_.lineBytesPerSecond);
        const Clock::time_point due = now + link_.oneWay;
        std::vector<Connection*> waiting;
        for (auto& [id, connection] : connections_)
            if (!connection->down.line.empty() && !connection->broken)
                waiting.push_back(connection.get());
        if (waiting.empty())
            return;
        // The turns start one connection further on each time.
        const std::size_t first = turn_++ % waiting.size();
        std::rotate(waiting.begin(), waiting.begin() + static_cast<std::ptrdiff_t>(first),
                    waiting.end());
        for (int round = 0; round < 1024; ++round) {
            bool moved = false;
            for (Connection* c : waiting) {
                const auto allowed = static_cast<std::size_t>(std::floor(credit_));
                const std::size_t passed = Pass(c->down, std::min(allowed, kTurn), due);
                credit_ -= static_cast<double>(passed);
                moved = moved || passed > 0;
            }
            if (!moved)
                break;
        }
    }

    void Write(Connection& c, Stream& s, std::atomic<std::uint64_t>& counter,
               Clock::time_point now) {
        for (int i = 0; i < 4096 && !s.blocked && !s.flight.empty(); ++i) {
            Chunk& head = s.flight.front();
            if (head.due > now)
                return;
            if (head.end) {
                ::shutdown(s.to, SHUT_WR);
                s.closed = true;
                s.flight.pop_front();
                return;
            }
            const ssize_t n = ::send(s.to, head.bytes.data() + head.sent,
                                     head.bytes.size() - head.sent, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                s.blocked = true;
                return;
            }
            if (n < 0) {
                c.broken = true;
                return;
            }
            head.sent += static_cast<std::size_t>(n);
            s.held -= static_cast<std::size_t>(n);
            counter.fetch_add(static_cast<std::uint64_t>(n));
            if (head.sent == head.bytes.size())
                s.flight.pop_front();
        }
    }

    void WriteSides(Connection& c, Clock::time_point now) {
        if (c.broken)
            return;
        if (!c.connecting)
            Write(c, c.up, *bytesUp, now);
        if (!c.broken)
            Write(c, c.down, *bytesDown, now);
    }

    // When the loop has something to do next without being woken.
    Clock::time_point NextTime(Clock::time_point now, Clock::time_point deadline) const {
        Clock::time_point next = deadline;
        std::size_t waiting = 0;
        for (const auto& [id, c] : connections_) {
            if (!c->connecting && !c->up.blocked && !c->up.flight.empty())
                next = std::min(next, c->up.flight.front().due);
            if (!c->down.blocked && !c->down.flight.empty())
                next = std::min(next, c->down.flight.front().due);
            for (const Chunk& chunk : c->down.line) {
                waiting += chunk.end ? 0 : chunk.bytes.size() - chunk.sent;
                if (waiting >= kWakeFor)
                    break;
            }
        }
        if (waiting > 0) {
            const double need =
                std::min({static_cast<double>(std::min(waiting, kWakeFor)), burst_}) - credit_;
            const auto wait = std::chrono::duration_cast<Clock::duration>(
                std::chrono::duration<double>(std::max(0.0, need) / link_.lineBytesPerSecond));
            next = std::min(next, now + wait);
        }
        return std::max(next, now);
    }

    WanLink link_;
    int serverPort_;
    int listener_;
    int wake_;
    int epoll_ = -1;
    std::map<std::uint64_t, std::unique_ptr<Connection>> connections_;
    std::uint64_t lastId_ = 0;
    std::size_t open_ = 0;
    std::vector<char> buffer_;
    double credit_ = 0;
    double burst_ = 1;
    Clock::time_point lineTime_{};
    std::size_t turn_ = 0;
};

} // namespace

WanProxy::WanProxy(int serverPort, const WanLink& link, std::chrono::seconds limit)
    : link_(link), serverPort_(serverPort), limit_(limit) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (listener_ < 0)
        Fail("socket");
    const int on = 1;
    ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address = Loopback(0);
    socklen_t size = sizeof address;
    if (::bind(listener_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_, 128) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        const int error = errno;
        ::close(listener_);
        errno = error;
        Fail("cannot listen on 127.0.0.1");
    }
    port_ = ntohs(address.sin_port);
    wake_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wake_ < 0) {
        const int error = errno;
        ::close(listener_);
        errno = error;
        Fail("eventfd");
    }
    thread_ = std::thread([this] { Run(); });
}

WanProxy::~WanProxy() {
    Stop();
    ::close(listener_);
    ::close(wake_);
}

void WanProxy::Stop() {
    if (!thread_.joinable())
        return;
    const std::uint64_t one = 1;
    if (::write(wake_, &one, sizeof one) < 0) {
        // The counter cannot overflow from one write; the loop wakes anyway.
    }
    thread_.join();
}

WanCounters WanProxy::Counters() const {
    return {connections_.load(), mostOpen_.load(), bytesDown_.load(), bytesUp_.load()};
}

std::string WanProxy::Failure() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return failure_;
}

void WanProxy::Run() {
    std::string failure;
    try {
        EventLoop loop(link_, serverPort_, listener_, wake_);
        loop.connections = &connections_;
        loop.mostOpen = &mostOpen_;
        loop.bytesDown = &bytesDown_;
        loop.bytesUp = &bytesUp_;
        if (!loop.Run(Clock::now() + limit_))
            failure = "the proxy reached its time limit of " + std::to_string(limit_.count()) +
                      " s and closed its connections";
    } catch (const std::exception& error) {
        failure = std::string("the proxy failed: ") + error.what();
    }
    std::lock_guard<std::mutex> lock(mutex_);
    failure_ = failure;
    running_.store(false);
}

} // namespace bench
