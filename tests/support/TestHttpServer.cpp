#include "TestHttpServer.h"

#include "Sockets.h"
#include "TestSupport.h"

#include "Files.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <stdexcept>
#include <system_error>

namespace testing_support {
namespace {

using Clock = std::chrono::steady_clock;
using Fault = HttpReply::Fault;
constexpr auto kIdleLimit = std::chrono::seconds(5); // to receive a whole request
constexpr auto kLongestStall = std::chrono::seconds(40);
constexpr int kPollStep = 100;               // ms; stopping ends a wait at once anyway
constexpr std::size_t kMostConnections = 64; // served at once; more wait to be accepted
constexpr int kMostRequestsPerConnection = 1000;
constexpr std::size_t kLargestHead = 65536;
constexpr std::size_t kLargestRequestBody = 16u << 20;
constexpr std::uint64_t kEndlessBody = std::uint64_t{1} << 40;      // announced
constexpr std::uint64_t kMostEndlessBytes = std::uint64_t{1} << 31; // really sent

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// True once the server is stopping; waits up to `ms` for that.
bool Stopping(SocketHandle wake, int ms = 0) {
    pollfd p{wake, POLLIN, 0};
    return sockets::Poll(&p, 1, ms) > 0;
}

// Waits up to kPollStep for `events` on `fd`; false when they did not come or
// the server is stopping.
bool Await(SocketHandle fd, short events, SocketHandle wake) {
    pollfd p[2] = {{fd, events, 0}, {wake, POLLIN, 0}};
    return sockets::Poll(p, 2, kPollStep) > 0 && p[1].revents == 0 && p[0].revents != 0;
}

// Sends all of `data` unless the server stops or the peer takes nothing for
// the longest stall; bytes past `headSize` are added to `bodyBytes` as they go.
bool Send(SocketHandle fd, const std::string& data, std::size_t headSize,
          std::atomic<std::uint64_t>& bodyBytes, SocketHandle wake) {
    std::size_t sent = 0;
    auto progress = Clock::now();
    while (sent < data.size()) {
        if (Stopping(wake) || Clock::now() - progress > kLongestStall)
            return false;
        if (!Await(fd, POLLOUT, wake))
            continue;
        const std::ptrdiff_t n = sockets::SendSome(fd, data.data() + sent, data.size() - sent);
        if (n < 0 && sockets::Transient())
            continue;
        if (n <= 0)
            return false;
        const std::size_t after = sent + static_cast<std::size_t>(n);
        if (after > headSize)
            bodyBytes += after - std::max(sent, headSize);
        sent = after;
        progress = Clock::now();
    }
    return true;
}

// Waits until the peer closes, the server stops, or the longest stall passed.
void Stall(SocketHandle fd, SocketHandle wake) {
    const auto until = Clock::now() + kLongestStall;
    char scratch[256];
    while (!Stopping(wake) && Clock::now() < until)
        if (Await(fd, POLLIN, wake) && sockets::Receive(fd, scratch, sizeof scratch) <= 0)
            return;
}

// Waits `delay`; false when the server stopped meanwhile.
bool Pause(std::chrono::milliseconds delay, SocketHandle wake) {
    using std::chrono::milliseconds;
    const auto until = Clock::now() + delay;
    for (auto left = delay; left.count() > 0;
         left = std::chrono::ceil<milliseconds>(until - Clock::now()))
        if (Stopping(wake, static_cast<int>(std::min(left, milliseconds(kPollStep)).count())))
            return false;
    return true;
}

const char* Reason(int status) {
    static const std::map<int, const char*> kReasons = {
        {200, "OK"},
        {206, "Partial Content"},
        {302, "Found"},
        {404, "Not Found"},
        {416, "Range Not Satisfiable"},
        {429, "Too Many Requests"},
        {500, "Internal Server Error"},
        {503, "Service Unavailable"},
    };
    const auto known = kReasons.find(status);
    return known == kReasons.end() ? "Status" : known->second;
}

// Reads what has arrived into `pending`; false when the peer closed, the
// server stopped or `until` passed first.
bool ReceiveMore(SocketHandle fd, std::string& pending, Clock::time_point until,
                 SocketHandle wake) {
    while (!Stopping(wake) && Clock::now() < until) {
        if (!Await(fd, POLLIN, wake))
            continue;
        char buffer[16384];
        const std::ptrdiff_t n = sockets::Receive(fd, buffer, sizeof buffer);
        if (n <= 0)
            return false;
        pending.append(buffer, static_cast<std::size_t>(n));
        return true;
    }
    return false;
}

// Takes the next request, head and body, off the connection; bytes after it
// stay in `pending` for the one after.
bool ReadRequest(SocketHandle fd, std::string& pending, HttpRequest& request, std::string& version,
                 SocketHandle wake) {
    const auto until = Clock::now() + kIdleLimit;
    std::size_t headEnd;
    while ((headEnd = pending.find("\r\n\r\n")) == std::string::npos)
        if (pending.size() > kLargestHead || !ReceiveMore(fd, pending, until, wake))
            return false;
    const std::size_t lineEnd = pending.find("\r\n");
    const std::string first = pending.substr(0, lineEnd);
    const std::size_t s1 = first.find(' '), s2 = first.rfind(' ');
    if (s1 == std::string::npos || s2 == s1)
        return false;
    request.method = first.substr(0, s1);
    request.target = first.substr(s1 + 1, s2 - s1 - 1);
    version = first.substr(s2 + 1);
    for (std::size_t at = lineEnd + 2; at < headEnd;) {
        const std::size_t end = pending.find("\r\n", at);
        const std::string line = pending.substr(at, end - at);
        const std::size_t colon = line.find(':');
        if (colon != std::string::npos) {
            std::size_t v = colon + 1;
            while (v < line.size() && line[v] == ' ')
                ++v;
            request.headers.emplace_back(line.substr(0, colon), line.substr(v));
        }
        at = end + 2;
    }
    const std::string length = request.Header("Content-Length");
    std::size_t bodySize = 0;
    std::from_chars(length.data(), length.data() + length.size(), bodySize);
    if (bodySize > kLargestRequestBody)
        return false;
    const std::size_t wanted = headEnd + 4 + bodySize;
    while (pending.size() < wanted)
        if (!ReceiveMore(fd, pending, until, wake))
            return false;
    request.body = pending.substr(headEnd + 4, bodySize);
    pending.erase(0, wanted);
    return true;
}

bool WantsClose(const HttpRequest& request, const std::string& version) {
    const std::string connection = Lower(request.Header("Connection"));
    if (version == "HTTP/1.0")
        return connection.find("keep-alive") == std::string::npos;
    return connection.find("close") != std::string::npos;
}

std::string Unescape(const std::string& target) {
    std::string path;
    for (std::size_t i = 0; i < target.size(); ++i) {
        if (target[i] == '%' && i + 2 < target.size()) {
            path += static_cast<char>(std::stoi(target.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            path += target[i];
        }
    }
    return path;
}

// The file's modification time, in whole seconds, as an HTTP date; empty when
// unknown.
std::string HttpDate(const std::string& file) {
    using namespace std::chrono;
    static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::error_code error;
    const auto written = std::filesystem::last_write_time(platform::FsPath(file), error);
    if (error)
        return {};
    const auto stamp = floor<seconds>(file_clock::to_sys(written));
    const auto day = floor<days>(stamp);
    const year_month_day date{day};
    const hh_mm_ss sinceMidnight{stamp - day};
    char text[40];
    std::snprintf(text, sizeof text, "%s, %02u %s %04d %02d:%02d:%02d GMT",
                  kDays[weekday{day}.c_encoding() % 7], static_cast<unsigned>(date.day()),
                  kMonths[(static_cast<unsigned>(date.month()) - 1) % 12],
                  static_cast<int>(date.year()), static_cast<int>(sinceMidnight.hours().count()),
                  static_cast<int>(sinceMidnight.minutes().count()),
                  static_cast<int>(sinceMidnight.seconds().count()));
    return text;
}

struct ByteRange {
    std::uint64_t first = 0, last = UINT64_MAX; // `last` included; the maximum when open
};

// "bytes=N-" or "bytes=N-M"; other forms are not understood and so ignored.
std::optional<ByteRange> ParseRange(const std::string& header) {
    if (header.rfind("bytes=", 0) != 0)
        return std::nullopt;
    const char* end = header.data() + header.size();
    ByteRange range;
    const auto first = std::from_chars(header.data() + 6, end, range.first);
    if (first.ec != std::errc() || first.ptr == end || *first.ptr != '-')
        return std::nullopt;
    if (first.ptr + 1 == end)
        return range;
    const auto last = std::from_chars(first.ptr + 1, end, range.last);
    if (last.ec != std::errc() || last.ptr != end || range.last < range.first)
        return std::nullopt;
    return range;
}

// Where to cut a body of `size` bytes: inside it whenever it has 2 bytes.
std::size_t CutPoint(std::size_t size, double fraction) {
    if (size < 2)
        return 0;
    const auto at = static_cast<std::size_t>(static_cast<double>(size) * fraction);
    return std::clamp<std::size_t>(at, 1, size - 1);
}

TestHttpServer::Handler FaultEachBodyOnce(TestHttpServer::Handler inner, Fault fault,
                                          double fraction) {
    struct State {
        std::mutex mutex;
        std::set<std::string> faulted;
    };
    return [inner = std::move(inner), fault, fraction,
            state = std::make_shared<State>()](const HttpRequest& request) {
        HttpReply reply = inner(request);
        if (reply.fault != Fault::None || (reply.status != 200 && reply.status != 206) ||
            reply.body.size() < 2)
            return reply;
        std::lock_guard lock(state->mutex);
        if (state->faulted.insert(request.target).second) {
            reply.fault = fault;
            reply.cutAt = CutPoint(reply.body.size(), fraction);
        }
        return reply;
    };
}

} // namespace

std::string HttpRequest::Header(const std::string& name) const {
    for (const auto& [key, value] : headers)
        if (Lower(key) == Lower(name))
            return value;
    return {};
}

TestHttpServer::TestHttpServer(Handler handler) : handler_(std::move(handler)) {
    listener_ = sockets::OpenTcp();
    if (listener_ == kNoSocket)
        throw std::runtime_error("socket failed");
    sockets::ReuseAddress(listener_);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_, 128) != 0) {
        sockets::Close(listener_);
        throw std::runtime_error("bind/listen failed");
    }
    socklen_t length = sizeof address;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    if (!sockets::OpenSignal(wake_, wakeRaiser_)) {
        sockets::Close(listener_);
        throw std::runtime_error("cannot make the stop signal");
    }
    thread_ = std::thread([this] { Loop(); });
}

TestHttpServer::~TestHttpServer() {
    sockets::Raise(wakeRaiser_); // stays readable: every wait on it ends
    thread_.join();
    sockets::CloseSignal(wake_, wakeRaiser_);
    sockets::Close(listener_);
}

std::string TestHttpServer::Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<HttpRequest> TestHttpServer::Requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

std::size_t TestHttpServer::MaxConcurrentRequests() const {
    std::lock_guard lock(mutex_);
    return mostAnswering_;
}

void TestHttpServer::Loop() {
    while (!Stopping(wake_)) {
        workers_.remove_if([](Worker& worker) {
            if (!worker.done)
                return false;
            worker.thread.join();
            return true;
        });
        if (workers_.size() >= kMostConnections) {
            Stopping(wake_, 10);
            continue;
        }
        if (!Await(listener_, POLLIN, wake_))
            continue;
        const SocketHandle client = sockets::Accept(listener_);
        if (client == kNoSocket)
            continue;
        ++connections_;
        Worker& worker = workers_.emplace_back();
        try {
            worker.thread = std::thread([this, client, &worker] {
                Serve(client);
                sockets::Close(client);
                worker.done = true;
            });
        } catch (const std::system_error&) { // out of threads: drop this connection
            workers_.pop_back();
            sockets::Close(client);
        }
    }
    for (Worker& worker : workers_)
        worker.thread.join();
    workers_.clear();
}

void TestHttpServer::Serve(SocketHandle client) {
    std::string pending; // received bytes that belong to the next request
    for (int served = 0; served < kMostRequestsPerConnection; ++served) {
        HttpRequest request;
        std::string version;
        if (!ReadRequest(client, pending, request, version, wake_))
            return;
        {
            std::lock_guard lock(mutex_);
            requests_.push_back(request);
            mostAnswering_ = std::max(mostAnswering_, ++answering_);
        }
        const bool keep = Answer(client, request, WantsClose(request, version));
        {
            std::lock_guard lock(mutex_);
            --answering_;
        }
        if (!keep)
            return;
    }
}

// Answers one request; true when the connection stays open for the next.
bool TestHttpServer::Answer(SocketHandle client, const HttpRequest& request, bool clientCloses) {
    HttpReply reply;
    try {
        reply = handler_(request);
    } catch (const std::exception& error) {
        reply = HttpReply{};
        reply.status = 500;
        reply.body = error.what();
        reply.close = true;
    }
    if (reply.fault == Fault::CloseBeforeHeaders)
        return false;
    if (reply.fault == Fault::StallBeforeHeaders) {
        Stall(client, wake_);
        return false;
    }
    if (!Pause(reply.delay, wake_))
        return false;
    const bool keep = reply.fault == Fault::None && !reply.close && !clientCloses;
    const std::uint64_t length = reply.fault == Fault::Endless ? kEndlessBody : reply.body.size();
    std::string response = "HTTP/1.1 " + std::to_string(reply.status) + " " + Reason(reply.status) +
                           "\r\nContent-Length: " + std::to_string(length) +
                           "\r\nConnection: " + (keep ? "keep-alive" : "close") + "\r\n";
    for (const auto& [key, value] : reply.headers)
        response += key + ": " + value + "\r\n";
    response += "\r\n";
    const std::size_t headSize = response.size();
    const bool partial = reply.fault == Fault::CutBody || reply.fault == Fault::StallInBody ||
                         reply.fault == Fault::Trickle || reply.fault == Fault::Endless;
    if (request.method != "HEAD")
        response.append(reply.body, 0, partial ? reply.cutAt : std::string::npos);
    if (!Send(client, response, headSize, bodyBytes_, wake_))
        return false;
    if (reply.fault == Fault::StallInBody)
        Stall(client, wake_);
    if (reply.fault == Fault::Trickle)
        for (std::size_t i = reply.cutAt; i < reply.body.size(); ++i)
            if (!Pause(reply.every, wake_) ||
                !Send(client, reply.body.substr(i, 1), 0, bodyBytes_, wake_))
                return false;
    if (reply.fault == Fault::Endless && !reply.body.empty())
        for (std::uint64_t sent = 0; sent < kMostEndlessBytes; sent += reply.body.size())
            if (!Send(client, reply.body, 0, bodyBytes_, wake_))
                return false;
    if (!keep)
        sockets::ShutdownSending(client);
    return keep;
}

std::string TestHttpServer::EntityTag(std::string_view content) {
    std::uint64_t hash = 14695981039346656037ull; // 64-bit FNV-1a
    for (const char c : content)
        hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    char text[24];
    std::snprintf(text, sizeof text, "\"%016llx\"", static_cast<unsigned long long>(hash));
    return text;
}

TestHttpServer::Handler TestHttpServer::Folder(std::string root, FolderOptions options) {
    return [root = std::move(root), options](const HttpRequest& request) {
        HttpReply reply;
        const std::string path = Unescape(request.target);
        const std::string file = root + path;
        std::error_code error;
        if (path.find("..") != std::string::npos ||
            !std::filesystem::is_regular_file(platform::FsPath(file), error)) {
            reply.status = 404;
            reply.body = "<html><body><h1>404 Not Found</h1></body></html>";
            return reply;
        }
        const std::string modified = options.lastModified ? HttpDate(file) : std::string();
        std::string content = ReadFile(file);
        const std::string tag = options.etag ? EntityTag(content) : std::string();
        if (!tag.empty())
            reply.headers.emplace_back("ETag", tag);
        if (!modified.empty())
            reply.headers.emplace_back("Last-Modified", modified);
        const auto range = options.ranges ? ParseRange(request.Header("Range")) : std::nullopt;
        if (options.ranges)
            reply.headers.emplace_back("Accept-Ranges", "bytes");
        const std::string ifRange = request.Header("If-Range");
        const bool current = ifRange.empty() || (!tag.empty() && ifRange == tag) ||
                             (!modified.empty() && ifRange == modified);
        if (!range || !current) {
            reply.body = std::move(content);
            return reply;
        }
        const std::uint64_t size = content.size();
        if (range->first >= size) {
            reply.status = 416;
            reply.headers.emplace_back("Content-Range", "bytes */" + std::to_string(size));
            return reply;
        }
        const std::uint64_t last = std::min(range->last, size - 1);
        reply.status = 206;
        reply.headers.emplace_back("Content-Range", "bytes " + std::to_string(range->first) + "-" +
                                                        std::to_string(last) + "/" +
                                                        std::to_string(size));
        reply.body = content.substr(range->first, last - range->first + 1);
        return reply;
    };
}

TestHttpServer::Handler TestHttpServer::CutEachBodyOnce(Handler inner, double fraction) {
    return FaultEachBodyOnce(std::move(inner), Fault::CutBody, fraction);
}

TestHttpServer::Handler TestHttpServer::StallEachBodyOnce(Handler inner, double fraction) {
    return FaultEachBodyOnce(std::move(inner), Fault::StallInBody, fraction);
}

TestHttpServer::Handler TestHttpServer::UnavailableFirst(Handler inner, int times,
                                                         std::string retryAfter, int status) {
    struct State {
        std::mutex mutex;
        std::map<std::string, int> refused;
    };
    return [inner = std::move(inner), times, retryAfter = std::move(retryAfter), status,
            state = std::make_shared<State>()](const HttpRequest& request) {
        {
            std::lock_guard lock(state->mutex);
            int& refused = state->refused[request.target];
            if (refused >= times)
                return inner(request);
            ++refused;
        }
        HttpReply reply;
        reply.status = status;
        reply.body = "<html><body><h1>" + std::to_string(status) + " " + Reason(status) +
                     "</h1></body></html>";
        if (!retryAfter.empty())
            reply.headers.emplace_back("Retry-After", retryAfter);
        return reply;
    };
}

TestHttpServer::Handler TestHttpServer::ChangesAfterCut(
    Handler inner,
    std::function<std::optional<std::string>(const std::string& target)> staleContent,
    double fraction) {
    struct State {
        std::mutex mutex;
        std::set<std::string> asked;
    };
    return [inner = std::move(inner), staleContent = std::move(staleContent), fraction,
            state = std::make_shared<State>()](const HttpRequest& request) {
        bool firstTime;
        {
            std::lock_guard lock(state->mutex);
            firstTime = state->asked.insert(request.target).second;
        }
        std::optional<std::string> stale;
        if (firstTime)
            stale = staleContent(request.target);
        if (!stale)
            return inner(request);
        HttpReply reply;
        reply.headers = {{"ETag", EntityTag(*stale)}, {"Accept-Ranges", "bytes"}};
        reply.fault = Fault::CutBody;
        reply.cutAt = CutPoint(stale->size(), fraction);
        reply.body = std::move(*stale);
        return reply;
    };
}

std::uint16_t TestHttpServer::ClosedPort() {
    const SocketHandle fd = sockets::OpenTcp();
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    // A failed bind leaves port 0, which no server listens on either.
    static_cast<void>(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address));
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    sockets::Close(fd);
    return ntohs(address.sin_port);
}

} // namespace testing_support
