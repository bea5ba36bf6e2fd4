// What a signed manifest must hold beyond its signature before a run may act
// on it: an expiry time ("Expires" of the section "settings") that has not
// passed, so that a server cannot freeze an installation on an old revision,
// a revision not below the one recorded, so that an old signed manifest
// cannot be replayed, and a SHA-256 digest in front of every file entry.
#pragma once

#include <cstdint>
#include <string>

class TListFile;

namespace signing {

// The cause for refusing the manifest (a text that begins with "expired",
// "rollback", "missing SHA-256" or "bad manifest"), or empty text when a run
// may use it. `recordedRevision` is the highest revision this installation
// recorded; `now` the local clock's time in seconds since 1970.
std::string CheckSignedManifest(const TListFile& list, std::int32_t recordedRevision,
                                std::int64_t now);

} // namespace signing
