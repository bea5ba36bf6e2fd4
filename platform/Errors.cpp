#include "Errors.h"

std::string FormatText(const std::string& pattern, const std::string& value) {
    std::string::size_type at = pattern.find('%');
    if (at == std::string::npos || at + 1 >= pattern.size())
        return pattern;
    return pattern.substr(0, at) + value + pattern.substr(at + 2);
}

std::string ErrorForLog(const std::exception& error) {
    const auto* io = dynamic_cast<const EInOutError*>(&error);
    if (io && !io->Reason().empty())
        return std::string(error.what()) + " (" + io->Reason() + ")";
    return error.what();
}
