// The socket calls of the test HTTP server over POSIX sockets or Winsock: the
// one place where the two differ for it. Include before anything that brings
// in windows.h.
#pragma once

#include "TestHttpServer.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace testing_support::sockets {

#ifdef _WIN32
static_assert(std::is_same_v<SocketHandle, SOCKET> && kNoSocket == INVALID_SOCKET);
#endif

// A TCP socket that child processes do not inherit; kNoSocket when the system
// gives none.
inline SocketHandle OpenTcp() {
#ifdef _WIN32
    static const bool started = [] {
        WSADATA data;
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    if (!started)
        return kNoSocket;
    return ::WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
#else
    return ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
#endif
}

// A blocking client connection to a loopback port whose receives give up
// after `receiveLimitS` seconds; kNoSocket when it cannot connect.
inline SocketHandle ConnectLoopback(std::uint16_t port, int receiveLimitS);

inline void Close(SocketHandle socket) {
#ifdef _WIN32
    ::closesocket(socket);
#else
    ::close(socket);
#endif
}

// Lets a listener bind its address again while old connections linger. Not
// on Windows, where the option lets another socket take the port over.
inline void ReuseAddress([[maybe_unused]] SocketHandle socket) {
#ifndef _WIN32
    const int yes = 1;
    ::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
#endif
}

// The next connection of a listener, kept from child processes and, on
// Windows, not blocking (its sends must not wait; see SendSome).
inline SocketHandle Accept(SocketHandle listener) {
#ifdef _WIN32
    const SocketHandle client = ::accept(listener, nullptr, nullptr);
    if (client != kNoSocket) {
        ::SetHandleInformation(reinterpret_cast<HANDLE>(client), HANDLE_FLAG_INHERIT, 0);
        u_long nonBlocking = 1;
        ::ioctlsocket(client, static_cast<long>(FIONBIO), &nonBlocking);
    }
    return client;
#else
    return ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
#endif
}

inline int Poll(pollfd* entries, std::size_t count, int ms) {
#ifdef _WIN32
    return ::WSAPoll(entries, static_cast<ULONG>(count), ms);
#else
    return ::poll(entries, static_cast<nfds_t>(count), ms);
#endif
}

// Sends what the connection takes now, without waiting and without a signal
// when the peer is gone: the number of bytes sent, or a negative number.
inline std::ptrdiff_t SendSome(SocketHandle socket, const char* data, std::size_t size) {
#ifdef _WIN32
    return ::send(socket, data, static_cast<int>(std::min<std::size_t>(size, INT_MAX)), 0);
#else
    return ::send(socket, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
#endif
}

// The number of bytes received, 0 when the peer closed, or a negative number.
inline std::ptrdiff_t Receive(SocketHandle socket, char* buffer, std::size_t size) {
#ifdef _WIN32
    return ::recv(socket, buffer, static_cast<int>(std::min<std::size_t>(size, INT_MAX)), 0);
#else
    return ::recv(socket, buffer, size, 0);
#endif
}

inline SocketHandle ConnectLoopback(std::uint16_t port, int receiveLimitS) {
    const SocketHandle socket = OpenTcp();
    if (socket == kNoSocket)
        return kNoSocket;
#ifdef _WIN32
    const DWORD limit = static_cast<DWORD>(receiveLimitS) * 1000;
    ::setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&limit),
                 sizeof limit);
#else
    const timeval limit{receiveLimitS, 0};
    ::setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
#endif
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        Close(socket);
        return kNoSocket;
    }
    return socket;
}

// Sends nothing more: the peer reads the end of the data.
inline void ShutdownSending(SocketHandle socket) {
#ifdef _WIN32
    ::shutdown(socket, SD_SEND);
#else
    ::shutdown(socket, SHUT_WR);
#endif
}

// Whether the last failed send or receive may work when tried again.
inline bool Transient() {
#ifdef _WIN32
    const int error = ::WSAGetLastError();
    return error == WSAEWOULDBLOCK || error == WSAEINTR;
#else
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
#endif
}

// A stop signal: `reader` can be polled and turns readable for good once
// Raise(writer) is called. An eventfd serves as both; Windows polls sockets
// only, so there it is a loopback connection with a byte sent down it.
inline bool OpenSignal(SocketHandle& reader, SocketHandle& writer) {
#ifdef _WIN32
    const SocketHandle listener = OpenTcp();
    if (listener == kNoSocket)
        return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    writer = reader = kNoSocket;
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::listen(listener, 1) == 0 &&
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) == 0 &&
        (writer = OpenTcp()) != kNoSocket &&
        ::connect(writer, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
        reader = Accept(listener);
    Close(listener);
    if (reader == kNoSocket && writer != kNoSocket)
        Close(writer);
    return reader != kNoSocket;
#else
    reader = writer = ::eventfd(0, EFD_CLOEXEC);
    return reader >= 0;
#endif
}

inline void Raise(SocketHandle writer) {
#ifdef _WIN32
    ::send(writer, "x", 1, 0);
#else
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write(writer, &one, sizeof one);
#endif
}

inline void CloseSignal(SocketHandle reader, SocketHandle writer) {
    Close(reader);
    if (writer != reader)
        Close(writer);
}

} // namespace testing_support::sockets
