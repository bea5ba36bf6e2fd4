#include "LauncherLog.h"

#include "Desktop.h"
#include "Errors.h"
#include "Files.h"
#include "Messages.h"

#include <filesystem>
#include <system_error>

std::string LauncherLogFile() {
    return platform::PathText(platform::FsPath(platform::StateFolder()) / "launcher.log");
}

std::string LauncherLogFolder() {
    const std::filesystem::path folder = platform::FsPath(platform::StateFolder());
    std::error_code error; // one that cannot be made is the opener's to report
    std::filesystem::create_directories(folder, error);
    return platform::PathText(folder);
}

TRunLog& LauncherLog() {
    static TRunLog* log = [] {
        auto* made = new TRunLog; // lives as long as the program
        made->SetFile(LauncherLogFile());
        return made;
    }();
    return *log;
}

std::string ReportError(const std::exception& error) {
    LauncherLog().Write("error", ErrorForLog(error));
    return ErrorBoxText(error.what());
}
