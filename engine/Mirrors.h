// Mirrors: other addresses that serve the same update tree. The manifest's
// settings may name them ("Mirrors|URL|URL…", inside the signature on a
// signed tree); an installation's settings may name more for the manifest
// itself ("UpdateMirrors", comma-separated), tried when the update address
// cannot give it. Every byte from a mirror is checked by its digest before
// it is used, so a mirror can slow a run but not change what it installs.
#pragma once

#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class TListFile;

inline constexpr const char* kMirrorsSetting = "Mirrors";

// Whether `address` can be a mirror: an http:// or https:// address without
// blanks, control characters or "|".
bool IsMirrorAddress(std::string_view address);

// An address as requests are made under it: with a final "/".
std::string MirrorBase(std::string address);

// The mirrors the manifest names, in order, each with a final "/"; those
// that cannot be mirrors are left out, and so is `updateUrl` itself.
std::vector<std::string> ManifestMirrors(const TListFile& list, const std::string& updateUrl);

// The mirrors of the setting "UpdateMirrors" (comma-separated, blanks around
// each allowed), each with a final "/"; those that cannot be mirrors are
// left out.
std::vector<std::string> SettingMirrors(std::string_view text);

// The addresses a run fetches the tree's files from: the update address
// first, then the mirrors, each in use until it fails. Requests are spread
// over those in use; the last one in use is never dropped, so that its
// failure is the entry's as without mirrors. Safe to use from any thread.
class TMirrorSet {
public:
    explicit TMirrorSet(std::vector<std::string> bases); // each with a final "/"

    std::size_t Size() const { return bases_.size(); }
    const std::string& Base(std::size_t k) const { return bases_[k]; }
    // The base of the n-th request among those in use.
    std::size_t Pick(std::size_t n) const;
    // Stops using base k for the rest of the run: true the first time, when
    // another is still in use.
    bool Drop(std::size_t k);
    bool Dropped(std::size_t k) const;

private:
    std::vector<std::string> bases_;
    mutable std::mutex mutex_;
    std::vector<bool> dropped_;
};
