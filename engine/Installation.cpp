#include "Installation.h"

#include "Files.h"
#include "Misc.h"
#include "Text.h"

#include <filesystem>
#include <map>
#include <system_error>

namespace fs = std::filesystem;

namespace {

bool IsFile(const std::string& path) {
    std::error_code error;
    return fs::is_regular_file(platform::FsPath(path), error);
}

void RemoveFile(const std::string& path) {
    std::error_code error;
    fs::remove(platform::FsPath(path), error);
}

} // namespace

TInstallation::TInstallation(std::string folder) : folder_(std::move(folder)) {}

std::string TInstallation::LocalFile(const std::string& manifestPath) const {
    return platform::ResolveCaseInsensitive(folder_, platform::ManifestPathToLocal(manifestPath));
}

std::string TInstallation::BackupFile(const std::string& manifestPath) const {
    return platform::ResolveCaseInsensitive(folder_,
                                            "backup" + std::string(1, platform::kPathSeparator) +
                                                platform::ManifestPathToLocal(manifestPath));
}

bool TInstallation::IsListed(const std::string& manifestPath) const {
    return listed_.count(platform::FoldCase(platform::ManifestPathToLocal(manifestPath))) > 0;
}

bool TInstallation::IsSettingsFile(const std::string& manifestPath) const {
    return platform::FoldCase(platform::ManifestPathToLocal(manifestPath)) ==
           platform::FoldCase(kSettingsFileName);
}

bool TInstallation::StaysInside(const std::string& path) const {
    return platform::StaysInside(folder_, path);
}

bool TInstallation::LinksOutside(const std::string& path) const {
    std::error_code error;
    if (!fs::is_symlink(fs::symlink_status(platform::FsPath(path), error)))
        return false;
    const fs::path real = fs::canonical(platform::FsPath(path), error);
    return error || !StaysInside(platform::PathText(real));
}

// Nothing else is touched: a ".bz2" file that the manifest lists itself is a
// file of the game.
void TInstallation::TakeListing(const std::vector<std::vector<std::string>>& sections) {
    listed_.clear();
    std::vector<std::string> paths;
    for (const auto& section : sections) {
        for (const std::string& entry : section) {
            const std::vector<std::string> fields = SplitFromEnd(entry, "|");
            if (fields.size() < 3 || !IsSafeRelativePath(fields[2]))
                continue;
            listed_.insert(platform::FoldCase(platform::ManifestPathToLocal(fields[2])));
            paths.push_back(fields[2]);
        }
    }
    // Nothing is removed in a folder that a link takes outside the
    // installation: what lies there is not the installation's.
    std::map<std::string, bool> folders; // folder -> whether it stays inside
    const auto inside = [&](const std::string& path) {
        const std::string folder = platform::PathText(platform::FsPath(path).parent_path());
        const auto [it, added] = folders.emplace(folder, false);
        if (added)
            it->second = StaysInside(path);
        return it->second;
    };
    // Backup copies are written the same way: their folders are looked at
    // only when there is a backup folder at all.
    std::error_code noBackups;
    const bool backups = fs::is_directory(
        platform::FsPath(platform::ResolveCaseInsensitive(folder_, "backup")), noBackups);
    for (const std::string& path : paths) {
        const std::string local = LocalFile(path);
        if (inside(local) && !IsListed(path + ".bz2") && IsFile(local + ".bz2"))
            RemoveFile(local + ".bz2");
        if (backups)
            inside(BackupFile(path));
    }
    inside(folder_ + "files.lst");
    for (const auto& [folder, stays] : folders) {
        if (!stays)
            continue;
        std::error_code error;
        for (fs::directory_iterator it(platform::FsPath(folder), error), end; !error && it != end;
             it.increment(error))
            if (platform::IsOwnTempFileName(platform::PathText(it->path().filename())) &&
                it->is_regular_file(error))
                RemoveFile(platform::PathText(it->path()));
    }
}
