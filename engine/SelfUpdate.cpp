#include "SelfUpdate.h"

#include "FileEntry.h"
#include "Files.h"
#include "Limits.h"
#include "Misc.h"
#include "Text.h"
#include "md5.h"

#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

TSelfUpdate::TSelfUpdate(TNotifier& notifier, TFileTransfer& transfer,
                         const TInstallation& installation, Settings settings)
    : notifier_(notifier), transfer_(transfer), installation_(installation),
      settings_(std::move(settings)) {}

bool TSelfUpdate::Run(const std::string& entry) {
    if (entry.empty())
        return true;
    const FileEntry self = SplitFileEntry(entry);
    // The entry names a file of the installation's root folder, and only this
    // launcher's own program file is ever replaced; a build for another
    // system is left alone.
    if (!IsSafeRelativePath(self.path) || self.path.find_first_of("\\/") != std::string::npos) {
        notifier_.ShowCause("the launcher build '" + platform::AnsiToUtf8(self.path) +
                            "' is not a file name of the installation's folder; left alone");
        return false;
    }
    const std::string launcher = installation_.LocalFile(self.path);
    std::error_code error;
    if (settings_.launcherFile.empty() ||
        !fs::equivalent(platform::FsPath(launcher), platform::FsPath(settings_.launcherFile),
                        error))
        return true;
    if (FileDigestText(launcher) == self.digest)
        return true;
    const limits::TSizeLimit maxCopy = CopyLimit(self), maxContent = ContentLimit(self);
    const std::string build = launcher + ".New";
    const std::string url =
        settings_.updateUrl + platform::EncodeUrlPath(platform::AnsiToUtf8(self.path)) + ".bz2";
    const auto failed = [&](const std::string& why, const std::string& fetchFailure) {
        std::error_code ignored;
        fs::remove(platform::FsPath(build), ignored);
        notifier_.ShowCause(
            WithFetchFailure("the launcher build is not replaced: " + why, fetchFailure));
        return false;
    };
    const TFileTransfer::Downloaded downloaded =
        transfer_.Download(url, launcher + ".bz2", true, maxCopy);
    if (downloaded.passedLimit)
        return failed(downloaded.failure, {});
    if (!downloaded.opened) {
        notifier_.ShowCause("the launcher build is not replaced: " + downloaded.failure);
        return true;
    }
    try {
        // The new build must be exactly the one listed before the launcher is
        // ended for it.
        fs::remove(platform::FsPath(build), error);
        transfer_.Unpack(launcher + ".bz2", build, self.digest,
                         settings_.requireSha256 ? self.sha256 : std::string(), maxContent);
        const std::string script = WriteUpdateScript(
            platform::PathText(platform::FsPath(launcher).filename()), settings_.processId);
        RunInOwnFolder(script);
    } catch (const std::exception& e) {
        return failed(DescribedError(e), downloaded.failure);
    }
    return true;
}
