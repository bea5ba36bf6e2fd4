#include "LauncherLog.h"

#include "Desktop.h"
#include "Errors.h"
#include "Files.h"
#include "Messages.h"

TRunLog& LauncherLog() {
    static TRunLog* log = [] {
        auto* made = new TRunLog; // lives as long as the program
        made->SetFile(
            platform::PathText(platform::FsPath(platform::StateFolder()) / "launcher.log"));
        return made;
    }();
    return *log;
}

std::string ReportError(const std::exception& error) {
    LauncherLog().Write("error", ErrorForLog(error));
    return ErrorBoxText(error.what());
}
