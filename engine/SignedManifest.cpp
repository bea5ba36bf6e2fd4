#include "SignedManifest.h"

#include "Errors.h"
#include "LstFile.h"
#include "Misc.h"
#include "Text.h"
#include "md5.h"

#include <cstdio>
#include <vector>

namespace signing {
namespace {

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar, and
// back (H. Hinnant's algorithms).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2 ? 1 : 0;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, std::int64_t& y, unsigned& m, unsigned& d) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2 ? 1 : 0);
}

bool IsLeapYear(std::int64_t y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

unsigned DaysInMonth(std::int64_t y, unsigned m) {
    static const unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeapYear(y) ? 29 : kDays[m - 1];
}

// The number of `width` digits at `at`, or -1.
int Digits(std::string_view text, std::size_t at, std::size_t width) {
    int value = 0;
    for (std::size_t i = at; i < at + width; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return -1;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

bool IsFileSection(const std::vector<std::string>& entries) {
    return !entries.empty() && entries.front() != kEmptySection;
}

} // namespace

std::optional<std::int64_t> ParseUtcTime(std::string_view text) {
    // 2027-01-31T12:00:00Z
    if (text.size() != 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' ||
        text[13] != ':' || text[16] != ':' || text[19] != 'Z')
        return std::nullopt;
    const int year = Digits(text, 0, 4), month = Digits(text, 5, 2), day = Digits(text, 8, 2);
    const int hour = Digits(text, 11, 2), minute = Digits(text, 14, 2),
              second = Digits(text, 17, 2);
    if (year < 0 || month < 1 || month > 12 || day < 1 || hour < 0 || hour > 23 || minute < 0 ||
        minute > 59 || second < 0 || second > 59 ||
        static_cast<unsigned>(day) > DaysInMonth(year, static_cast<unsigned>(month)))
        return std::nullopt;
    return DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) * 86400 +
           hour * 3600 + minute * 60 + second;
}

std::string UtcTimeText(std::int64_t seconds) {
    std::int64_t days = seconds / 86400, rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    std::int64_t year = 0;
    unsigned month = 0, day = 0;
    CivilFromDays(days, year, month, day);
    char text[48];
    std::snprintf(text, sizeof text, "%04lld-%02u-%02uT%02lld:%02lld:%02lldZ",
                  static_cast<long long>(year), month, day, static_cast<long long>(rest / 3600),
                  static_cast<long long>(rest / 60 % 60), static_cast<long long>(rest % 60));
    return text;
}

std::string CheckSignedManifest(const TListFile& list, std::int32_t recordedRevision,
                                std::int64_t now) {
    const std::string expires = list.GetValue("settings", "Expires");
    if (!expires.empty()) {
        const std::optional<std::int64_t> until = ParseUtcTime(expires);
        if (!until)
            return "bad manifest: Expires '" + platform::AnsiToUtf8(expires) +
                   "' is not a UTC time such as 2027-01-31T12:00:00Z";
        if (now >= *until)
            return "expired: the manifest expired at " + expires + ", the local clock says " +
                   UtcTimeText(now);
    }
    const std::string revisionText = list.GetValue("settings", "Rev");
    std::int32_t revision = 0;
    try {
        revision = StrToInt(revisionText);
    } catch (const EConvertError&) {
        return "bad manifest: Rev '" + platform::AnsiToUtf8(revisionText) + "' is not a number";
    }
    if (revision < recordedRevision)
        return "rollback: the manifest's revision " + std::to_string(revision) +
               " is below the revision " + std::to_string(recordedRevision) +
               " this installation has recorded";
    for (const char* section : {"self", "files_critical", "files_normal"}) {
        const std::vector<std::string> entries = list.GetSection(section);
        if (!IsFileSection(entries))
            continue;
        for (const std::string& entry : entries) {
            const std::vector<std::string> fields = SplitFromEnd(entry, "|");
            if (fields.size() < 4 || !IsSha256Text(fields[3]))
                return "missing SHA-256: the entry '" + platform::AnsiToUtf8(entry) +
                       "' of the section " + section + " carries none";
        }
    }
    return {};
}

} // namespace signing
