#include "TestHttpServer.h"

#include "TestSupport.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <stdexcept>

namespace testing_support {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kRequestTimeout = std::chrono::seconds(5);
constexpr auto kLongestStall = std::chrono::seconds(40);

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

bool SendAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// Waits until the peer closes, the server stops, or the longest stall passed.
void Stall(int fd, const std::atomic<bool>& stop) {
    const auto until = Clock::now() + kLongestStall;
    char scratch[256];
    while (!stop && Clock::now() < until) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 50) > 0 && ::recv(fd, scratch, sizeof scratch, 0) <= 0)
            return;
    }
}

const char* Reason(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 302:
        return "Found";
    case 404:
        return "Not Found";
    case 500:
        return "Internal Server Error";
    default:
        return "Status";
    }
}

} // namespace

std::string HttpRequest::Header(const std::string& name) const {
    for (const auto& [key, value] : headers)
        if (Lower(key) == Lower(name))
            return value;
    return {};
}

TestHttpServer::TestHttpServer(Handler handler) : handler_(std::move(handler)) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener_ < 0)
        throw std::runtime_error("socket failed");
    const int yes = 1;
    ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_, 16) != 0)
        throw std::runtime_error("bind/listen failed");
    socklen_t length = sizeof address;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Loop(); });
}

TestHttpServer::~TestHttpServer() {
    stop_ = true;
    thread_.join();
    ::close(listener_);
}

std::string TestHttpServer::Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<HttpRequest> TestHttpServer::Requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

void TestHttpServer::Loop() {
    while (!stop_) {
        pollfd p{listener_, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0)
            continue;
        const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            continue;
        Serve(client);
        ::close(client);
    }
}

void TestHttpServer::Serve(int client) {
    // Read the request head, bounded in size and time.
    std::string head;
    const auto until = Clock::now() + kRequestTimeout;
    while (head.find("\r\n\r\n") == std::string::npos && head.size() < 65536 && !stop_) {
        if (Clock::now() > until)
            return;
        pollfd p{client, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0)
            continue;
        char buffer[4096];
        const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
        if (n <= 0)
            return;
        head.append(buffer, static_cast<std::size_t>(n));
    }
    HttpRequest request;
    std::size_t lineEnd = head.find("\r\n");
    const std::string first = head.substr(0, lineEnd);
    const std::size_t s1 = first.find(' '), s2 = first.rfind(' ');
    if (s1 == std::string::npos || s2 == s1)
        return;
    request.method = first.substr(0, s1);
    request.target = first.substr(s1 + 1, s2 - s1 - 1);
    for (std::size_t at = lineEnd + 2; at < head.size();) {
        const std::size_t end = head.find("\r\n", at);
        if (end == std::string::npos || end == at)
            break;
        const std::string line = head.substr(at, end - at);
        const std::size_t colon = line.find(':');
        if (colon != std::string::npos) {
            std::size_t v = colon + 1;
            while (v < line.size() && line[v] == ' ')
                ++v;
            request.headers.emplace_back(line.substr(0, colon), line.substr(v));
        }
        at = end + 2;
    }
    {
        std::lock_guard lock(mutex_);
        requests_.push_back(request);
    }
    const HttpReply reply = handler_(request);
    using Fault = HttpReply::Fault;
    if (reply.fault == Fault::CloseBeforeHeaders)
        return;
    if (reply.fault == Fault::StallBeforeHeaders) {
        Stall(client, stop_);
        return;
    }
    std::string response = "HTTP/1.1 " + std::to_string(reply.status) + " " + Reason(reply.status) +
                           "\r\nContent-Length: " + std::to_string(reply.body.size()) +
                           "\r\nConnection: close\r\n";
    for (const auto& [key, value] : reply.headers)
        response += key + ": " + value + "\r\n";
    response += "\r\n";
    const bool partial = reply.fault == Fault::CutBody || reply.fault == Fault::StallInBody;
    response += partial ? reply.body.substr(0, reply.cutAt) : reply.body;
    if (!SendAll(client, response.data(), response.size()))
        return;
    if (reply.fault == Fault::StallInBody)
        Stall(client, stop_);
    ::shutdown(client, SHUT_WR);
}

TestHttpServer::Handler TestHttpServer::Folder(std::string root) {
    return [root = std::move(root)](const HttpRequest& request) {
        HttpReply reply;
        std::string path;
        // Undo percent-encoding of the address.
        for (std::size_t i = 0; i < request.target.size(); ++i) {
            if (request.target[i] == '%' && i + 2 < request.target.size()) {
                path += static_cast<char>(std::stoi(request.target.substr(i + 1, 2), nullptr, 16));
                i += 2;
            } else {
                path += request.target[i];
            }
        }
        const std::string file = root + path;
        std::error_code error;
        if (path.find("..") == std::string::npos && std::filesystem::is_regular_file(file, error)) {
            reply.body = ReadFile(file);
        } else {
            reply.status = 404;
            reply.body = "<html><body><h1>404 Not Found</h1></body></html>";
        }
        return reply;
    };
}

std::uint16_t TestHttpServer::ClosedPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

} // namespace testing_support
