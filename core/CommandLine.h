// What the launcher answers on its command line before it makes a window:
// its usage and its version. Both windows print the answer and end.
#pragma once

#include <optional>
#include <string>
#include <vector>

// The usage text for "--help" or "-h", "Quenmor VERSION" for "--version"
// (the first of them on the line), each ending with a line end; nothing for
// any other command line, which starts the window.
std::optional<std::string> CommandLineAnswer(const std::vector<std::string>& arguments);
