#include "Mirrors.h"

#include "LstFile.h"
#include "Misc.h"

#include <algorithm>

bool IsMirrorAddress(std::string_view address) {
    const bool scheme = address.rfind("http://", 0) == 0 || address.rfind("https://", 0) == 0;
    const std::size_t host = address.find("//") + 2;
    return scheme && address.size() > host &&
           std::none_of(address.begin(), address.end(), [](char c) {
               return static_cast<unsigned char>(c) <= 32 || c == '|' || c == 127;
           });
}

std::string MirrorBase(std::string address) {
    if (address.empty() || address.back() != '/')
        address += '/';
    return address;
}

std::vector<std::string> ManifestMirrors(const TListFile& list, const std::string& updateUrl) {
    std::vector<std::string> mirrors;
    for (const std::string& entry : list.GetSection("settings")) {
        std::vector<std::string> fields = SplitFromEnd(entry, "|");
        if (fields.empty() || fields.back() != kMirrorsSetting)
            continue;
        fields.pop_back();
        for (auto it = fields.rbegin(); it != fields.rend(); ++it) {
            if (!IsMirrorAddress(*it))
                continue;
            std::string base = MirrorBase(*it);
            if (base != MirrorBase(updateUrl) &&
                std::find(mirrors.begin(), mirrors.end(), base) == mirrors.end())
                mirrors.push_back(std::move(base));
        }
        break; // the first entry alone, as for every setting
    }
    return mirrors;
}

std::vector<std::string> SettingMirrors(std::string_view text) {
    std::vector<std::string> mirrors;
    while (!text.empty()) {
        const std::size_t comma = std::min(text.find(','), text.size());
        const std::string_view item = TrimControl(text.substr(0, comma));
        if (IsMirrorAddress(item))
            mirrors.push_back(MirrorBase(std::string(item)));
        text.remove_prefix(std::min(comma + 1, text.size()));
    }
    return mirrors;
}

TMirrorSet::TMirrorSet(std::vector<std::string> bases)
    : bases_(std::move(bases)), dropped_(bases_.size(), false) {}

std::size_t TMirrorSet::Pick(std::size_t n) const {
    std::lock_guard lock(mutex_);
    std::vector<std::size_t> live;
    for (std::size_t k = 0; k < bases_.size(); ++k)
        if (!dropped_[k])
            live.push_back(k);
    return live.empty() ? 0 : live[n % live.size()];
}

bool TMirrorSet::Drop(std::size_t k) {
    std::lock_guard lock(mutex_);
    if (dropped_[k] || std::count(dropped_.begin(), dropped_.end(), false) <= 1)
        return false;
    dropped_[k] = true;
    return true;
}

bool TMirrorSet::Dropped(std::size_t k) const {
    std::lock_guard lock(mutex_);
    return dropped_[k];
}
