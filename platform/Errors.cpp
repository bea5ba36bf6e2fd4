#include "Errors.h"

std::string FormatText(const std::string& pattern, const std::string& value) {
    std::string::size_type at = pattern.find('%');
    if (at == std::string::npos || at + 1 >= pattern.size())
        return pattern;
    return pattern.substr(0, at) + value + pattern.substr(at + 2);
}
