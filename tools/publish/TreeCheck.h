// A published tree as its operator looks at it: the manifest listed in
// UTF-8 with "/" separators, and every copy checked against its entry and
// the manifest against its signature, as a launcher would take them.
#pragma once

#include "Publisher.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <ostream>
#include <string>

namespace publish {

// Prints the revision, the settings, the hosts and every file line of the
// tree in OUT (`given` as the command line names it). Raises EUsageError
// when OUT holds no manifest, EPublishError when it cannot be read.
void ListTree(const std::filesystem::path& given, std::ostream& out);

struct VerifySummary {
    std::int32_t revision = 0;
    std::size_t files = 0;
    std::uint64_t contentBytes = 0;
    std::uint64_t copyBytes = 0;
    std::string signingKey; // the key whose signature holds; empty: unsigned
    std::string expires;    // of a signed manifest
};

// Checks the tree in OUT: a signature beside the manifest must hold over it
// with the key it names, and the manifest be one that launchers trusting that
// key take (not expired, a SHA-256 on every line); every copy must be there,
// of its listed size, and unpack to the listed content (size, MD5, SHA-256).
// Copies are checked on `jobs` threads (0: one per processor). The first
// fault, in manifest order, is raised as EPublishError naming it; a stop
// through `cancel` raises EPublishError "Interrupted".
VerifySummary VerifyTree(const std::filesystem::path& given, unsigned jobs,
                         const std::atomic<bool>* cancel,
                         const std::function<void(const Progress&)>& onProgress = {});

} // namespace publish
