// The installation's folder as the run's steps see it: where a path of the
// manifest lies on this disk (letter case resolved as Windows would), which
// paths the manifest lists, and whether a path stays inside the folder or is
// led out of it by a link. Nothing here writes, except the removal of what a
// killed run left behind.
#pragma once

#include <set>
#include <string>
#include <vector>

// The installation's own settings file, in its root folder. A run never
// replaces it with a copy from the server.
inline constexpr const char* kSettingsFileName = "Quenmor.ini";

class TInstallation {
public:
    // `folder` ends with the path separator.
    explicit TInstallation(std::string folder);

    const std::string& Folder() const { return folder_; }
    // The local file of a manifest path, and its copy in "backup".
    std::string LocalFile(const std::string& manifestPath) const;
    std::string BackupFile(const std::string& manifestPath) const;
    // Whether a manifest path names the installation's settings file.
    bool IsSettingsFile(const std::string& manifestPath) const;
    // Whether `path` lies inside the installation, links on its way resolved.
    bool StaysInside(const std::string& path) const;
    // Whether `path` is a symbolic link to something outside the installation.
    bool LinksOutside(const std::string& path) const;

    // Takes the manifest's sections of files: from now on IsListed knows
    // their paths. What a run that was killed left beside them is removed:
    // the downloaded copy of an entry (its path + ".bz2") and the run's own
    // temporary files, in folders that stay inside the installation.
    void TakeListing(const std::vector<std::vector<std::string>>& sections);
    // Whether the manifest lists the path (letter case folded).
    bool IsListed(const std::string& manifestPath) const;

private:
    std::string folder_;
    std::set<std::string> listed_; // the local paths the manifest lists, folded
};
