#include "Http.h"

#include "Errors.h"

#include <curl/curl.h>

#include <chrono>
#include <exception>
#include <memory>
#include <mutex>

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;

struct Transfer {
    CURL* curl = nullptr;
    std::chrono::seconds stallLimit{30};
    const std::function<bool()>* cancelled = nullptr;
    curl_off_t lastReceived = -1;
    Clock::time_point lastProgress = Clock::now();
    const HttpHandlers* handlers = nullptr;
    bool opened = false;
    std::exception_ptr error;

    bool Open() {
        if (!opened) {
            opened = true;
            if (handlers->opened)
                handlers->opened();
        }
        return true;
    }
};

void GlobalInit() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// The end of a header block: the response is open unless it is an interim
// answer (1xx) or a redirect that will be followed.
std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    const std::size_t length = size * count;
    const bool blank =
        (length == 2 && data[0] == '\r' && data[1] == '\n') || (length == 1 && data[0] == '\n');
    if (!blank || t->opened)
        return length;
    long code = 0;
    curl_easy_getinfo(t->curl, CURLINFO_RESPONSE_CODE, &code);
    char* redirect = nullptr;
    curl_easy_getinfo(t->curl, CURLINFO_REDIRECT_URL, &redirect);
    if (code / 100 == 1 || (code / 100 == 3 && redirect != nullptr))
        return length;
    try {
        t->Open();
    } catch (...) {
        t->error = std::current_exception();
        return 0; // stops the transfer
    }
    return length;
}

// Ends a transfer that has received nothing for the stall limit, before or
// after the response headers.
int OnProgress(void* user, curl_off_t, curl_off_t received, curl_off_t, curl_off_t) {
    auto* t = static_cast<Transfer*>(user);
    if (*t->cancelled && (*t->cancelled)()) {
        t->error = std::make_exception_ptr(Exception("The transfer was cancelled"));
        return 1;
    }
    const auto now = Clock::now();
    if (received != t->lastReceived) {
        t->lastReceived = received;
        t->lastProgress = now;
        return 0;
    }
    return now - t->lastProgress >= t->stallLimit ? 1 : 0;
}

std::size_t OnData(char* data, std::size_t size, std::size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    const std::size_t length = size * count;
    try {
        t->Open();
        if (t->handlers->data)
            t->handlers->data(data, length);
    } catch (...) {
        t->error = std::current_exception();
        return CURL_WRITEFUNC_ERROR;
    }
    return length;
}

} // namespace

bool HttpGet(const std::string& url, const HttpOptions& options, const HttpHandlers& handlers) {
    GlobalInit();
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), &curl_easy_cleanup);
    if (!curl)
        return false;
    Transfer t;
    t.curl = curl.get();
    t.handlers = &handlers;
    t.cancelled = &options.cancelled;
    CURL* c = curl.get();
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_USERAGENT, options.agent.c_str());
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(c, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_BUFFERSIZE, 256L * 1024L);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, options.connectTimeoutS);
    t.stallLimit = std::chrono::seconds(options.stallTimeoutS);
    curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, &OnProgress);
    curl_easy_setopt(c, CURLOPT_XFERINFODATA, &t);
    curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, &OnHeader);
    curl_easy_setopt(c, CURLOPT_HEADERDATA, &t);
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &OnData);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &t);
    const CURLcode result = curl_easy_perform(c);
    if (t.error)
        std::rethrow_exception(t.error);
    if (result == CURLE_OK && !t.opened)
        t.Open(); // a response without a header block (HTTP/0.9 style)
    return t.opened;
}

} // namespace platform
