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
    EInOutError(const std::string& text, std::string reason)
        : Exception(text), reason_(std::move(reason)) {}
    // What went wrong underneath, where the text is one the player sees and
    // says no more ("Unable to write to %s"): for logs. Empty otherwise.
    const std::string& Reason() const { return reason_; }

private:
    std::string reason_;
};

// The text of an error for a log: its own text, and what went wrong
// underneath when it knows more.
std::string ErrorForLog(const std::exception& error);

// A text could not be converted to a number or a Boolean.
class EConvertError : public Exception {
public:
    using Exception::Exception;
};

// Text formatting with a single "%s" or "%d" placeholder, as the messages of this
// program are written.
std::string FormatText(const std::string& pattern, const std::string& value);
