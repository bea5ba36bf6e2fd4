#include "Fetch.h"

#include "Errors.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>
#include <memory>
#include <thread>

namespace {

using std::chrono::milliseconds;

bool ReadNumber(std::string_view text, std::int64_t& value) {
    if (text.empty())
        return false;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() && value >= 0;
}

// An IMF-fixdate ("Sun, 06 Nov 1994 08:49:37 GMT"), the date form every
// server sends today.
bool ReadHttpDate(std::string_view text, std::chrono::system_clock::time_point& time) {
    static constexpr std::array<std::string_view, 12> kMonths = {
        "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    if (text.size() != 29 || text.substr(3, 2) != ", " || text.substr(25) != " GMT")
        return false;
    const auto month = std::find(kMonths.begin(), kMonths.end(), text.substr(8, 3));
    std::int64_t day = 0, year = 0, hour = 0, minute = 0, second = 0;
    if (month == kMonths.end() || !ReadNumber(text.substr(5, 2), day) ||
        !ReadNumber(text.substr(12, 4), year) || !ReadNumber(text.substr(17, 2), hour) ||
        !ReadNumber(text.substr(20, 2), minute) || !ReadNumber(text.substr(23, 2), second) ||
        text[16] != ' ' || text[19] != ':' || text[22] != ':' || hour > 23 || minute > 59 ||
        second > 60)
        return false;
    const std::chrono::year_month_day date{
        std::chrono::year(static_cast<int>(year)),
        std::chrono::month(static_cast<unsigned>(month - kMonths.begin() + 1)),
        std::chrono::day(static_cast<unsigned>(day))};
    if (!date.ok())
        return false;
    time = std::chrono::sys_days(date) + std::chrono::hours(hour) + std::chrono::minutes(minute) +
           std::chrono::seconds(second);
    return true;
}

// Server errors, and the refusals that say "not now": too many requests, and
// a request the server grew tired of waiting for.
bool Retryable(long status) {
    return status >= 500 || status == 429 || status == 408;
}

// What the try found, for the note of the next one.
std::string Problem(const platform::HttpResponse& response) {
    if (!response.opened)
        return "no answer: " + response.error;
    if (Retryable(response.status))
        return "answer " + std::to_string(response.status);
    return "body broke off (" + response.error + ")";
}

} // namespace

milliseconds RetryAfterPause(const std::string& value, std::chrono::system_clock::time_point now) {
    std::int64_t seconds = 0;
    if (ReadNumber(value, seconds))
        return milliseconds(std::min<std::int64_t>(seconds, 24 * 3600) * 1000);
    std::chrono::system_clock::time_point when;
    if (!ReadHttpDate(value, when))
        return milliseconds(-1);
    return std::max(milliseconds(0), std::chrono::duration_cast<milliseconds>(when - now));
}

bool ContinuesAt(const std::string& contentRange, std::int64_t from, std::int64_t total) {
    const std::string_view text = contentRange;
    if (text.substr(0, 6) != "bytes ")
        return false;
    const std::size_t dash = text.find('-'), slash = text.find('/');
    if (dash == std::string_view::npos || slash == std::string_view::npos || slash < dash)
        return false;
    std::int64_t first = 0, last = 0, length = 0;
    if (!ReadNumber(text.substr(6, dash - 6), first) ||
        !ReadNumber(text.substr(dash + 1, slash - dash - 1), last) || last < first)
        return false;
    const std::string_view size = text.substr(slash + 1);
    if (size == "*")
        return first == from && total < 0;
    return ReadNumber(size, length) && first == from && last < length &&
           (total < 0 || length == total);
}

std::string FetchFailure(const std::string& url, const TFetchResult& result) {
    const std::string tries =
        result.tries > 1 ? " after " + std::to_string(result.tries) + " tries" : std::string();
    if (!result.opened)
        return url + ": cannot be fetched" + tries + " (" + result.problem + ")";
    // A 4xx or 5xx page is a body too, but not the resource.
    if (result.status < 200 || result.status > 299)
        return url + ": the server answered HTTP " + std::to_string(result.status) + tries;
    if (!result.problem.empty())
        return url + ": received " + std::to_string(result.bytes) + " of " +
               (result.total >= 0 ? std::to_string(result.total) : std::string("?")) + " bytes" +
               tries + " (" + result.problem + ")";
    return {};
}

limits::ELimitPassed LimitPassed(const std::string& url, long status,
                                 const limits::TSizeLimit& limit) {
    const std::string what = status >= 200 && status <= 299
                                 ? std::string()
                                 : " the server answered HTTP " + std::to_string(status) + ", and";
    return limits::ELimitPassed(url + ":" + what + " the body is longer than " + limit.text +
                                "; the transfer was stopped there");
}

TFetch::TFetch(platform::HttpConnection& connection, platform::HttpOptions options,
               TRetryPolicy policy, std::function<void(const std::string&)> note, TStopSignal* stop)
    : connection_(connection), options_(std::move(options)), policy_(policy),
      note_(std::move(note)), stop_(stop) {}

void TFetch::Pause(milliseconds pause) const {
    const auto cancelled = [this] { return options_.cancelled && options_.cancelled(); };
    if (cancelled() || (stop_ && !stop_->SleepFor(pause, cancelled)))
        throw Exception("The transfer was cancelled");
    if (!stop_)
        std::this_thread::sleep_for(pause);
}

TFetchResult TFetch::Get(const std::string& url, const TFetchSink& sink) {
    TFetchResult result;
    std::string validator; // of the resource whose body the sink holds
    std::int64_t total = -1;
    milliseconds waited{0};
    for (;;) {
        ++result.tries;
        platform::HttpOptions options = options_;
        if (stop_ && !options.wakeOnRequest)
            options.wakeOnRequest = [this](std::function<void()> wake) {
                return std::shared_ptr<void>(stop_->Subscribe(std::move(wake)));
            };
        const bool resuming = result.bytes > 0 && !validator.empty();
        if (resuming) {
            options.rangeFrom = result.bytes;
            options.ifRange = validator;
        }
        // How this answer's body is used: appended to what came before (the
        // continuation asked for), put in its place (a body from byte 0), or
        // left out.
        enum class Use { Append, Replace, Ignore } use = Use::Replace;
        bool startOver = false; // a resumed answer that belongs to no body we have
        platform::HttpHandlers handlers;
        handlers.opened = [&](const platform::HttpResponse& head) {
            answerStatus_ = head.status;
            if (resuming && head.status != 200) {
                if (head.status == 206 && ContinuesAt(head.contentRange, result.bytes, total)) {
                    use = Use::Append;
                } else {
                    use = Use::Ignore;
                    // A passing refusal leaves the part already here usable.
                    startOver = !Retryable(head.status);
                }
                return;
            }
            result.bytes = 0;
            sink.restart();
            total = head.status == 200 ? head.contentLength : -1;
            const bool strong = !head.etag.empty() && head.etag.rfind("W/", 0) != 0;
            validator = head.status != 200 ? "" : strong ? head.etag : head.lastModified;
        };
        handlers.data = [&](const char* data, std::size_t size) {
            if (use == Use::Ignore)
                return;
            sink.data(data, size);
            result.bytes += static_cast<std::int64_t>(size);
        };
        const platform::HttpResponse response = connection_.Get(url, options, handlers);
        result.opened = result.opened || response.opened;
        result.status = response.status;
        result.total = total;
        // A continuation that ended before the resource does (a server may send
        // less than was asked for) is resumed again from where it stopped.
        const bool whole = use != Use::Append || total < 0 || result.bytes >= total;
        if (startOver)
            validator.clear(); // the next try asks for the whole body
        else if (use != Use::Ignore && response.complete && whole && !Retryable(response.status))
            return result;
        result.problem =
            startOver ? std::string("no continuation of the same version") : Problem(response);
        if (response.lasting || result.tries >= policy_.maxTries || waited >= policy_.maxWait)
            return result;
        milliseconds pause = policy_.firstPause * (1 << std::min(result.tries - 1, 16));
        if (response.opened && Retryable(response.status)) {
            const milliseconds asked =
                RetryAfterPause(response.retryAfter, std::chrono::system_clock::now());
            if (asked.count() >= 0)
                pause = asked;
        }
        pause = std::min(pause, policy_.maxWait - waited);
        if (note_)
            note_(url + ": " + result.problem + "; try " + std::to_string(result.tries + 1) +
                  " of " + std::to_string(policy_.maxTries) + " in " +
                  std::to_string(pause.count()) + " ms");
        Pause(pause);
        waited += pause;
    }
}
