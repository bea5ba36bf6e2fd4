#include "Http.h"

#include "Errors.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <string_view>

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;

void GlobalInit() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct Transfer {
    CURL* curl = nullptr;
    const std::function<bool()>* cancelled = nullptr;
    // The stall rule: at least `minBytes` within every `window` once the
    // transfer has run that long. `samples` holds the bytes received as they
    // stood over the last window, oldest first, starting with the last one
    // taken at or before its start.
    std::chrono::seconds window{30};
    curl_off_t minBytes = 0;
    Clock::time_point started = Clock::now();
    std::deque<std::pair<Clock::time_point, curl_off_t>> samples{{started, 0}};
    bool stalled = false;
    curl_off_t stalledWith = 0; // bytes received in the last window when it stalled
    const HttpHandlers* handlers = nullptr;
    HttpResponse response;
    std::exception_ptr error;

    void Open() {
        if (response.opened)
            return;
        response.opened = true;
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &response.status);
        curl_off_t length = -1;
        if (curl_easy_getinfo(curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) == CURLE_OK)
            response.contentLength = length;
        if (handlers->opened)
            handlers->opened(response);
    }
};

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) ==
                      std::tolower(static_cast<unsigned char>(b));
           });
}

std::string Trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ' ||
                             text.back() == '\t'))
        text.remove_suffix(1);
    return std::string(text);
}

// Each header line of each answer (redirects and interim answers included);
// the end of a header block opens the transfer unless it is an interim answer
// (1xx) or a redirect that will be followed.
std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    const std::size_t length = size * count;
    const std::string_view line(data, length);
    if (t->response.opened)
        return length; // trailers
    if (StartsWithNoCase(line, "HTTP/")) {
        // A new answer: what the one before it said does not count.
        t->response.etag.clear();
        t->response.lastModified.clear();
        t->response.contentRange.clear();
        t->response.retryAfter.clear();
        return length;
    }
    const struct {
        std::string_view name;
        std::string* field;
    } kept[] = {{"etag:", &t->response.etag},
                {"last-modified:", &t->response.lastModified},
                {"content-range:", &t->response.contentRange},
                {"retry-after:", &t->response.retryAfter}};
    for (const auto& [name, field] : kept)
        if (StartsWithNoCase(line, name))
            *field = Trimmed(line.substr(name.size()));
    const bool blank = line == "\r\n" || line == "\n";
    if (!blank)
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

// Ends a transfer that has received too little in the last window, before or
// after the answer's headers.
int OnProgress(void* user, curl_off_t, curl_off_t received, curl_off_t, curl_off_t) {
    auto* t = static_cast<Transfer*>(user);
    if (*t->cancelled && (*t->cancelled)()) {
        t->error = std::make_exception_ptr(Exception("The transfer was cancelled"));
        return 1;
    }
    // A sample every tenth of a second is enough for a window of seconds,
    // and keeps the list short however often libcurl calls.
    constexpr auto kSampleStep = std::chrono::milliseconds(100);
    const auto now = Clock::now();
    if (now - t->samples.back().first >= kSampleStep)
        t->samples.emplace_back(now, received);
    const auto windowStart = now - t->window;
    while (t->samples.size() > 1 && t->samples[1].first <= windowStart)
        t->samples.pop_front();
    if (now - t->started < t->window)
        return 0;
    const curl_off_t inWindow = received - t->samples.front().second;
    if (inWindow >= std::max<curl_off_t>(t->minBytes, 1))
        return 0;
    t->stalled = true;
    t->stalledWith = inWindow;
    return 1;
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

// Runs the transfer of `c` on `multi` to its end, or until `t` is cancelled:
// what curl_easy_perform does, except that a wake-up ends the wait for the
// network at once, to ask whether the transfer is cancelled.
CURLcode Perform(CURLM* multi, CURL* c, Transfer& t) {
    if (curl_multi_add_handle(multi, c) != CURLM_OK)
        return CURLE_FAILED_INIT;
    CURLcode result = CURLE_OK;
    for (bool done = false; !done;) {
        int running = 0;
        if (curl_multi_perform(multi, &running) != CURLM_OK) {
            result = CURLE_FAILED_INIT;
            break;
        }
        int left = 0;
        while (const CURLMsg* message = curl_multi_info_read(multi, &left))
            if (message->msg == CURLMSG_DONE && message->easy_handle == c) {
                result = message->data.result;
                done = true;
            }
        if (done)
            break;
        if (running == 0) {
            result = CURLE_GOT_NOTHING; // ended without saying how: not expected
            break;
        }
        if (curl_multi_poll(multi, nullptr, 0, 1000, nullptr) != CURLM_OK) {
            result = CURLE_FAILED_INIT;
            break;
        }
        if (*t.cancelled && (*t.cancelled)()) {
            t.error = std::make_exception_ptr(Exception("The transfer was cancelled"));
            result = CURLE_ABORTED_BY_CALLBACK;
            break;
        }
    }
    curl_multi_remove_handle(multi, c);
    return result;
}

struct HeaderList {
    curl_slist* list = nullptr;
    ~HeaderList() { curl_slist_free_all(list); }
};

} // namespace

struct HttpConnection::Handle {
    // The transfer runs on a multi handle of its own, which keeps the open
    // connections between transfers and can be woken from another thread.
    CURLM* multi = nullptr;
    CURL* curl = nullptr;
    char errorText[CURL_ERROR_SIZE] = {};
    ProxySettings proxy;
};

HttpConnection::HttpConnection() : handle_(std::make_unique<Handle>()) {
    GlobalInit();
    handle_->multi = curl_multi_init();
    handle_->curl = curl_easy_init();
    handle_->proxy = SystemProxy();
}

HttpConnection::~HttpConnection() {
    if (handle_->curl)
        curl_easy_cleanup(handle_->curl);
    if (handle_->multi)
        curl_multi_cleanup(handle_->multi);
}

HttpResponse HttpConnection::Get(const std::string& url, const HttpOptions& options,
                                 const HttpHandlers& handlers) {
    CURL* c = handle_->curl;
    CURLM* multi = handle_->multi;
    if (!c || !multi)
        return {};
    // Every option is set anew for each transfer; the connections that the
    // multi handle keeps open survive the reset.
    curl_easy_reset(c);
    Transfer t;
    t.curl = c;
    t.handlers = &handlers;
    t.cancelled = &options.cancelled;
    t.window = std::chrono::seconds(std::max(options.stallTimeoutS, 1L));
    t.minBytes = static_cast<curl_off_t>(std::max(options.minBytesPerS, 0L)) * t.window.count();
    handle_->errorText[0] = '\0';
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, handle_->errorText);
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_USERAGENT, options.agent.c_str());
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(c, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_BUFFERSIZE, 256L * 1024L);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, options.connectTimeoutS);
    curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, &OnProgress);
    curl_easy_setopt(c, CURLOPT_XFERINFODATA, &t);
    curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, &OnHeader);
    curl_easy_setopt(c, CURLOPT_HEADERDATA, &t);
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &OnData);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &t);
    const ProxySettings& proxy = handle_->proxy;
    const std::string& through = StartsWithNoCase(url, "https:") ? proxy.https : proxy.http;
    if (!through.empty()) {
        curl_easy_setopt(c, CURLOPT_PROXY, through.c_str());
        curl_easy_setopt(c, CURLOPT_NOPROXY, proxy.bypass.c_str());
    }
    const std::string range = std::to_string(options.rangeFrom) + "-";
    HeaderList headers;
    if (options.rangeFrom > 0) {
        curl_easy_setopt(c, CURLOPT_RANGE, range.c_str());
        if (!options.ifRange.empty()) {
            headers.list = curl_slist_append(nullptr, ("If-Range: " + options.ifRange).c_str());
            curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.list);
        }
    }
    std::shared_ptr<void> wakes;
    if (options.wakeOnRequest)
        wakes = options.wakeOnRequest([multi] { curl_multi_wakeup(multi); });
    const CURLcode result = Perform(multi, c, t);
    wakes.reset();
    if (t.error)
        std::rethrow_exception(t.error);
    if (result == CURLE_OK) {
        t.Open(); // also an answer without a header block (HTTP/0.9 style)
        t.response.complete = true;
    } else if (t.stalled) {
        const std::string window = std::to_string(t.window.count()) + " s";
        t.response.error = t.stalledWith == 0
                               ? "nothing received for " + window
                               : "only " + std::to_string(t.stalledWith) +
                                     " bytes received in the last " + window + ", below " +
                                     std::to_string(options.minBytesPerS) + " bytes/s";
    } else {
        t.response.error = handle_->errorText[0] != '\0' ? std::string(handle_->errorText)
                                                         : curl_easy_strerror(result);
        t.response.lasting = !t.response.opened && (result == CURLE_UNSUPPORTED_PROTOCOL ||
                                                    result == CURLE_URL_MALFORMAT ||
                                                    result == CURLE_COULDNT_RESOLVE_HOST);
    }
    return t.response;
}

} // namespace platform
