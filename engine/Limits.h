// How many bytes a run takes from the update server at most, and how many it
// lets a copy unpack to: a broken or hostile server cannot make a run fill
// the installation's disk. What passes a bound fails the file (or the
// manifest) that passed it, and names the bound as its cause.
#pragma once

#include "Errors.h"

#include <cstdint>
#include <string>

namespace limits {

// A transfer or an unpacking that passed its bound; it stopped there.
class ELimitPassed : public EInOutError {
public:
    using EInOutError::EInOutError;
};

// The manifest's compressed copy, and the manifest unpacked from it. A
// manifest of 100,000 files with paths of some 40 characters, each line with
// its content size and SHA-256, takes 5.2 MiB compressed and 14 MB unpacked.
inline constexpr std::int64_t kManifestCopy = std::int64_t{64} << 20;
inline constexpr std::int64_t kManifestText = std::int64_t{256} << 20;

// What bzip2 can make of a copy of `copyBytes`: a block of at most 900,000
// symbols unpacks to at most 46.6 MB and takes at least about 30 bytes, so a
// copy unpacks to at most some 1.55 million times its size (1 GiB of zeros,
// the extreme the compressor itself reaches, is 785 bytes, 1.37 million
// times). The bound leaves a third more.
inline constexpr std::int64_t kMaxBzip2Ratio = std::int64_t{1} << 21;
inline std::int64_t MaxContentOf(std::int64_t copyBytes) {
    if (copyBytes <= 0)
        return 0;
    if (copyBytes > INT64_MAX / kMaxBzip2Ratio)
        return INT64_MAX;
    return copyBytes * kMaxBzip2Ratio;
}

// What bzip2 can make of `contentBytes` at most: libbz2 guarantees its output
// for incompressible data within 1 % and 600 bytes more than its input.
inline std::int64_t MaxCopyOf(std::int64_t contentBytes) {
    if (contentBytes < 0)
        return 0;
    if (contentBytes > INT64_MAX / 2)
        return INT64_MAX;
    return contentBytes + contentBytes / 100 + 600;
}

// A bound on bytes, with the words that name it in a cause: "the 1000 bytes
// its entry lists". Negative bytes: no bound.
struct TSizeLimit {
    std::int64_t bytes = -1;
    std::string text;

    bool Passed(std::int64_t count) const { return bytes >= 0 && count > bytes; }
};

} // namespace limits
