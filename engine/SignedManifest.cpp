#include "SignedManifest.h"

#include "Errors.h"
#include "LstFile.h"
#include "Misc.h"
#include "Text.h"
#include "md5.h"

#include <vector>

namespace signing {
namespace {

bool IsFileSection(const std::vector<std::string>& entries) {
    return !entries.empty() && entries.front() != kEmptySection;
}

} // namespace

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
