// The text of the manifest that a run publishes: the settings, the hosts and
// the file sections, with the line that lists each file.
#pragma once

#include "CopyJobs.h"
#include "HostsList.h"

#include <cstdint>
#include <string>
#include <vector>

namespace publish {

// What a signed manifest adds: a SHA-256 field in front of every file line
// ("sha256|path|md5|size"), and the time it expires (UTC text), if any.
struct SignedFields {
    bool sha256 = false;
    std::string expires;
};

// The whole manifest, lines ending in CR LF: [settings] (Rev, ModHosts, and
// Expires when given), [hosts], then [self], [files_critical] and
// [files_normal] with the files of `jobs` in their order, each in its job's
// section.
std::string ManifestText(std::int32_t revision, bool modHosts, const std::vector<HostEntry>& hosts,
                         const std::vector<Job>& jobs, const SignedFields& signedFields = {});

} // namespace publish
