// The rollback floor of signed update trees, as the installation's settings
// file keeps it: the highest revision of a signed manifest that verified in
// this installation, under its own key beside "AtRevision" (which records the
// revision the installation reached, and is written only when a run gets
// through). It is read when a run starts and only ever raised.
#pragma once

#include <cstdint>
#include <string>

inline constexpr const char* kTrustedRevisionKey = "TrustedRevision";

// The floor recorded in `settingsFile` (section "main"); 0 when none is.
// Raises EConvertError naming the key when its value is not a number.
std::int32_t ReadTrustedRevision(const std::string& settingsFile);

// Records `revision` as the floor unless the file already holds one as high
// (a value that is no number counts as none). Raises what writing raises
// (EInOutError "Unable to write to ...").
void RaiseTrustedRevision(const std::string& settingsFile, std::int32_t revision);
