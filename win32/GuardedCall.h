// The Win32 window's central error handler: an error that leaves an event
// handler is written into the launcher's log and shown in an error box
// titled "Quenmor", and the program goes on.
#pragma once

#include <exception>
#include <functional>
#include <string>

// Shows an error the way the central handler does.
void ShowException(const std::exception& error);
// How the box is presented (UTF-8 text); tests may replace it.
extern std::function<void(const std::string& text)> PresentError;

// Runs `handler` as an event handler runs: what it raises is shown and the
// rest of it is skipped. Returns whether it ran to its end.
bool GuardedCall(const std::function<void()>& handler);
