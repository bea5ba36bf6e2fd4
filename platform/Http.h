// HTTP(S) transfers, blocking, on the calling thread. A connection object
// keeps what it has opened alive between its transfers (HTTP/1.1 keep-alive,
// HTTP/2 where a TLS server offers it), so the files of a run do not each pay
// for a new connection.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace platform {

struct HttpOptions {
    std::string agent;         // the User-Agent header
    long connectTimeoutS = 15; // a connection not made by then is a failure
    // A transfer that, once it has run this long, has received less than
    // `minBytesPerS` on average over the last `stallTimeoutS` seconds is
    // stalled: a server that trickles a byte now and then holds nothing up for
    // ever. Before the answer's headers nothing arrives, so a server that does
    // not answer is stalled after `stallTimeoutS` as well.
    long stallTimeoutS = 30;
    long minBytesPerS = 1024;
    // Asked several times a second during the transfer; true stops it, and
    // Get raises Exception ("The transfer was cancelled").
    std::function<bool()> cancelled;
    // Given, as each transfer starts, what wakes it from any thread to ask
    // `cancelled` at once, as it otherwise does only when libcurl next reports
    // progress (about once a second while nothing arrives). The object
    // returned is released before Get returns, and must end that.
    std::function<std::shared_ptr<void>(std::function<void()> wake)> wakeOnRequest;
    // Resuming: above 0, the body is asked for from this byte on ("Range:
    // bytes=N-"), and only if the resource still carries the validator
    // `ifRange` (an ETag or a Last-Modified date; "If-Range"). These are the
    // only request headers besides the agent.
    std::int64_t rangeFrom = 0;
    std::string ifRange;
};

// What one transfer found out about its answer.
struct HttpResponse {
    bool opened = false; // the answer's headers arrived: the address is open
    long status = 0;
    std::int64_t contentLength = -1; // of this answer's body; -1 when not announced
    std::string etag, lastModified, contentRange, retryAfter;
    // The body ended as the answer announced it; false when the connection
    // broke, the transfer stalled, or a handler stopped it.
    bool complete = false;
    std::string error; // what went wrong when not complete: a transport error text
    // The address can never be fetched as it stands (a scheme other than
    // HTTP and HTTPS, a malformed address, a host name that does not
    // resolve): asking again would fail the same way.
    bool lasting = false;
};

struct HttpHandlers {
    // Called once the answer's final headers have arrived, before any of its
    // body.
    std::function<void(const HttpResponse& head)> opened;
    // Called with the body as it arrives, in pieces of any size.
    std::function<void(const char* data, std::size_t size)> data;
};

// The proxy that the system's own settings name for plain and secure
// addresses ("host:port"), and the hosts reached without it (a list for
// libcurl's NOPROXY). On Windows these are the user's Internet settings, as
// WinINet programs use them; elsewhere, and when the environment names a
// proxy itself (http_proxy and the like), nothing: libcurl then follows the
// environment.
struct ProxySettings {
    std::string http, https;
    std::string bypass;
};
ProxySettings SystemProxy();

class HttpConnection {
public:
    HttpConnection();
    ~HttpConnection();
    HttpConnection(const HttpConnection&) = delete;
    HttpConnection& operator=(const HttpConnection&) = delete;

    // Requests the address (http and https only; redirects are followed; the
    // proxy of SystemProxy, read when the connection is made, or else of the
    // standard environment variables applies).
    // The answer is `opened` false when the address could not be opened:
    // malformed, host not found, connection refused or not made in time, or
    // broken before the answer's headers. A transfer that breaks or stalls
    // after the headers is opened with the body received so far and complete
    // false. Whatever a handler raises is raised here after the transfer has
    // been stopped. The status of the answer is reported, never acted on.
    HttpResponse Get(const std::string& url, const HttpOptions& options,
                     const HttpHandlers& handlers);

private:
    struct Handle;
    std::unique_ptr<Handle> handle_;
};

} // namespace platform
