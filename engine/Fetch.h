// Fetching one address into one file over a kept-open connection, through
// the faults of real networks: a body cut off or stalled part-way is resumed
// where it stopped, and failed connections and answers 5xx or 429 are tried
// again after a pause, all within fixed bounds per file.
#pragma once

#include "Http.h"
#include "Limits.h"
#include "StopSignal.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

struct TRetryPolicy {
    int maxTries = 4;                          // requests per file, the first included
    std::chrono::milliseconds maxWait{30000};  // pauses per file, added up
    std::chrono::milliseconds firstPause{500}; // doubled for each further try
};

// Where the body goes. `restart` comes before the first byte of every body
// that starts at byte 0 (the first, and any that replaces what came before);
// `data` then receives the body in order. A resumed body continues without a
// restart.
struct TFetchSink {
    std::function<void()> restart;
    std::function<void(const char* data, std::size_t size)> data;
};

struct TFetchResult {
    bool opened = false; // some try opened the address: the sink holds a body
    long status = 0;     // of the last answer
    int tries = 0;
    std::int64_t bytes = 0;  // of the body in the sink
    std::int64_t total = -1; // of the resource, when an answer said
    // Why the last try did not give the whole body (the transport's error
    // text, or that no continuation of the same version came); empty when it
    // did.
    std::string problem;
};

// What went wrong with a fetch of `url`, for logs: that it could not be
// opened (and why), the HTTP status of an answer that was no success, or the
// bytes received of those expected; empty text when it gave a whole body
// with a success status.
std::string FetchFailure(const std::string& url, const TFetchResult& result);

// The failure of a body of `url` that passed `limit` in an answer with
// `status`: an error page that long says what it was an answer to.
limits::ELimitPassed LimitPassed(const std::string& url, long status,
                                 const limits::TSizeLimit& limit);

class TFetch {
public:
    // `note` is told, on the fetching thread, what is about to be tried again
    // and why (for live displays and traces; never for the status line). A
    // pause before a try ends early, raising, when a request of `stop` makes
    // the options' `cancelled` true.
    TFetch(platform::HttpConnection& connection, platform::HttpOptions options,
           TRetryPolicy policy = {}, std::function<void(const std::string&)> note = {},
           TStopSignal* stop = nullptr);

    // Fetches the address into the sink. Connection failures, answers 5xx and
    // 429 (after the pause they ask for in Retry-After, within the bound) and
    // bodies cut off part-way are tried again; a resumed body is accepted only
    // as a 206 answer whose Content-Range continues the same resource (If-Range
    // with its first answer's ETag, else its Last-Modified); anything else
    // starts the body again from byte 0, so two versions are never spliced.
    // When the bounds are reached, what came stands: an address that no try
    // could open gives opened false; otherwise the sink keeps the body as it
    // came (an error page, or a body cut short). Raises what the sink or the transfer raises (a
    // cancelled transfer or pause raises Exception).
    TFetchResult Get(const std::string& url, const TFetchSink& sink);

    // The HTTP status of the answer whose body the sink is being given.
    long AnswerStatus() const { return answerStatus_; }

private:
    void Pause(std::chrono::milliseconds pause) const;

    platform::HttpConnection& connection_;
    platform::HttpOptions options_;
    TRetryPolicy policy_;
    std::function<void(const std::string&)> note_;
    TStopSignal* stop_;
    long answerStatus_ = 0;
};

// The pause an answer's Retry-After asks for (seconds, or an HTTP date
// against `now`); -1 when it asks for none or cannot be read.
std::chrono::milliseconds RetryAfterPause(const std::string& value,
                                          std::chrono::system_clock::time_point now);

// Whether a Content-Range ("bytes FIRST-LAST/TOTAL") continues a body at
// byte `from` of a resource of `total` bytes (-1: not known).
bool ContinuesAt(const std::string& contentRange, std::int64_t from, std::int64_t total);
