#include "Messages.h"

std::string ErrorBoxText(const std::string& message) {
    std::string text = message;
    if (!text.empty() && static_cast<unsigned char>(text.back()) > '.')
        text += '.';
    return text;
}
