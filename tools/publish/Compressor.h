// bzip2 compression (block size 9) of the copies and the manifest, each
// written once from start to end into a new file.
#pragma once

#include "ContentDigest.h"

#include <atomic>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>

namespace publish {

// Compresses `source` into the new file `target`, digesting the content on the
// way; returns the content's digest and size. `onBlock` (may be empty) hears
// of each block of content compressed. Raises EPublishError.
ContentInfo CompressFile(const std::filesystem::path& source, const std::filesystem::path& target,
                         const std::atomic<bool>* cancel, const std::atomic<bool>& failed,
                         const std::function<void(std::size_t)>& onBlock = {});

// Compresses a text into the new file `target`. Raises EPublishError.
void CompressText(const std::string& text, const std::filesystem::path& target);

} // namespace publish
