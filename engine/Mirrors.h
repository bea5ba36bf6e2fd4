// Mirrors: other addresses that serve the same update tree. The manifest's
// settings may name them ("Mirrors|URL|URL…", inside the signature on a
// signed tree); an installation's settings may name more for the manifest
// itself ("UpdateMirrors", comma-separated), tried when the update address
// cannot give it. Every byte from a mirror is checked by its digest before
// it is used, so a mirror can slow a run but not change what it installs.
#pragma once

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
