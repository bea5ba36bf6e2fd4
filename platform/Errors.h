// Exception classes shared by the engine, the platform layer and the window side.
#pragma once

#include <stdexcept>
#include <string>

// Base of every failure this program raises on purpose. The text is shown to
// the player as it stands (the window's error box adds the final full stop).
class Exception : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A file or folder could not be opened, created, read, written or removed.
class EInOutError : public Exception {
public:
    using Exception::Exception;
};

// A text could not be converted to a number or a Boolean.
class EConvertError : public Exception {
public:
    using Exception::Exception;
};

// Text formatting with a single "%s" or "%d" placeholder, as the messages of this
// program are written.
std::string FormatText(const std::string& pattern, const std::string& value);
