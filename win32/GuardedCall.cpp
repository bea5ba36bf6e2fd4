#include "GuardedCall.h"

#include "LauncherLog.h"
#include "Messages.h"
#include "WideText.h"

#include <windows.h>

#include <stdexcept>

namespace {

void ShowErrorBox(const std::string& text) {
    MessageBoxW(nullptr, platform::Wide(text).c_str(), platform::Wide(kApplicationTitle).c_str(),
                MB_OK | MB_ICONERROR);
}

} // namespace

std::function<void(const std::string& text)> PresentError = &ShowErrorBox;

void ShowException(const std::exception& error) {
    PresentError(ReportError(error));
}

bool GuardedCall(const std::function<void()>& handler) {
    try {
        handler();
        return true;
    } catch (const std::exception& error) {
        ShowException(error);
    } catch (...) {
        ShowException(std::runtime_error("Unknown error"));
    }
    return false;
}
