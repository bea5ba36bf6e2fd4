// The text of the manifest that a run publishes: the settings, the hosts and
// the file sections, with the line that lists each file.
#pragma once

#include "CopyJobs.h"
#include "HostsList.h"

#include <cstdint>
#include <string>
#include <vector>

namespace publish {

// The whole manifest, lines ending in CR LF: [settings] (Rev, ModHosts, and
// Expires when `expires`, a UTC time text, is given, and the lines of
// `moreSettings`), [hosts], then [self],
// [files_critical] and [files_normal] with the files of `jobs` in their
// order, each in its job's section.
//
// A file's line is "contentsize|sha256|path|md5|copysize": the content's size
// in bytes and SHA-256, the manifest path, the content's MD5 and the size of
// the compressed copy. The launcher reads the fields from the end and skips
// those in front of the ones it knows, so launchers that know only the last
// three read every line as before.
std::string ManifestText(std::int32_t revision, bool modHosts, const std::vector<HostEntry>& hosts,
                         const std::vector<Job>& jobs, const std::string& expires = {},
                         const std::vector<std::string>& moreSettings = {});

// The manifest `text` with the setting Expires set to `expires`: its entry in
// section settings (the first one, which the launcher reads) replaced, or one
// added at the end of the section, and every other byte as it was. Raises
// EPublishError when the text has no closed section settings.
std::string WithExpiry(const std::string& text, const std::string& expires);

} // namespace publish
