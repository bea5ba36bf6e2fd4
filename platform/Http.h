// One HTTP(S) transfer, blocking, on the calling thread.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace platform {

struct HttpOptions {
    std::string agent;         // the User-Agent header; no other header of ours is sent
    long connectTimeoutS = 15; // a connection not made by then is a failure
    long stallTimeoutS = 30;   // a transfer that delivers nothing for so long is broken
    // Asked several times a second during the transfer; true stops it, and
    // HttpGet raises Exception ("The transfer was cancelled").
    std::function<bool()> cancelled;
};

struct HttpHandlers {
    // Called once the response headers have arrived: the address is open.
    std::function<void()> opened;
    // Called with the body as it arrives, in pieces of any size.
    std::function<void(const char* data, std::size_t size)> data;
};

// Requests the address (redirects are followed; the system's proxy settings
// from the standard environment variables apply). Returns false when the
// address could not be opened: malformed, host not found, connection refused
// or not made in time, or broken before the response headers. A transfer that
// breaks or stalls after the headers returns true with the body received so
// far. Whatever a handler raises is raised here after the transfer has been
// stopped. The status of the response is not examined.
bool HttpGet(const std::string& url, const HttpOptions& options, const HttpHandlers& handlers);

} // namespace platform
