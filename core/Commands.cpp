#include "Commands.h"

#include "Files.h"
#include "Misc.h"
#include "Process.h"

#include <exception>
#include <filesystem>
#include <system_error>

void StartRenameBatch(const std::string& baseFolder) {
    const std::string batch = platform::ResolveCaseInsensitive(baseFolder, "Rename.bat");
    std::error_code error;
    if (!std::filesystem::is_regular_file(platform::FsPath(batch), error))
        return;
    try {
        platform::OpenHidden(batch, baseFolder);
    } catch (const std::exception&) {
        // Optional, and nothing the player needs to hear about.
    }
}

void StartGame(const TLauncherSettings& settings) {
    if (settings.size() <= RunCustom)
        return;
    StartRenameBatch(settings[BaseFolder]);
    RunInOwnFolder(settings[BaseFolder] + platform::CommandLineToLocal(settings[RunCustom]));
}
