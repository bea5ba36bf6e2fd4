// Signing a published tree again: a fresh expiry written into its manifest
// and a new signature, with the revision and the files as they are, swapped
// in the way a publishing run swaps in its tree. Only a tree whose signature
// holds with the same key is signed again, so that a manifest someone
// changed is never vouched for.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace publish {

struct ResignOptions {
    std::filesystem::path out;
    std::filesystem::path signingKey; // the private key the tree is signed with
    // When the manifest expires, in seconds since 1970 (UTC); none:
    // kDefaultExpiryDays from now.
    std::optional<std::int64_t> expiresAt;
    const std::atomic<bool>* cancel = nullptr; // set to stop early (OUT stays)
};

struct ResignSummary {
    std::int32_t revision = 0;
    std::string signingKey;      // the public key (base64)
    std::string expires;         // the new expiry (UTC text)
    std::string previousExpires; // the one it replaced; empty: none
    std::size_t files = 0;       // the file lines of the manifest
    std::vector<std::string> warnings;
};

// Writes a new expiry into OUT's manifest and signs it again. Everything else
// of OUT is taken over unchanged (hard-linked, or copied across file systems)
// into a staging folder beside it, which is swapped in at the end; on any
// failure OUT is left as it was. Raises EUsageError when OUT is not a tree
// signed with this key whose signature holds over its manifest.
ResignSummary Resign(const ResignOptions& options);

} // namespace publish
