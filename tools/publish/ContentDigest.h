// A file's content, read once from start to end: its size and digest are
// taken on the way while each block is handed on (to the compressor).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

namespace publish {

// A file's content as it was read.
struct ContentInfo {
    std::string digest;     // MD5, as text
    std::string sha256;     // SHA-256, as text
    std::uint64_t size = 0; // bytes
};

// Reads a whole file, digesting it and handing each block to `consume` (may
// be empty). Raises EPublishError "Interrupted" when `cancel` (may be null)
// or `failed` is set while it reads.
ContentInfo ReadContent(const std::filesystem::path& path, const std::atomic<bool>* cancel,
                        const std::atomic<bool>& failed,
                        const std::function<void(const char*, std::size_t)>& consume);

// The same without handing the content on.
ContentInfo DigestFile(const std::filesystem::path& path, const std::atomic<bool>* cancel,
                       const std::atomic<bool>& failed);

} // namespace publish
