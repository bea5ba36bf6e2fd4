#include "RevisionFloor.h"

#include "Errors.h"
#include "Misc.h"
#include "Profile.h"

std::int32_t ReadTrustedRevision(const std::string& settingsFile) {
    const std::string text =
        platform::GetProfileString(settingsFile, "main", kTrustedRevisionKey, "0");
    try {
        return StrToInt(text);
    } catch (const EConvertError& e) {
        throw EConvertError(std::string(kTrustedRevisionKey) + " in " + settingsFile + ": " +
                            e.what());
    }
}

void RaiseTrustedRevision(const std::string& settingsFile, std::int32_t revision) {
    std::int32_t recorded = 0;
    try {
        recorded = ReadTrustedRevision(settingsFile);
    } catch (const EConvertError&) {
        recorded = INT32_MIN; // replaced by a number
    }
    if (revision > recorded)
        platform::WriteProfileString(settingsFile, "main", kTrustedRevisionKey,
                                     std::to_string(revision));
}
