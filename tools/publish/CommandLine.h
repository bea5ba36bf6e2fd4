// The program quenmor-publish as it runs from the command line: its
// arguments, the progress line, the summary and warnings it prints, and the
// exit code of each kind of failure.
#pragma once

#include "PublishProgress.h"

#include <atomic>
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace publish {

// The program: parses the arguments (without the program name), publishes,
// prints the summary to `out` and errors and warnings to `err`, and the
// progress there in `progressStyle` (none: no progress). Returns the exit
// code: 0 done, 1 publishing failed, 2 bad command line or input.
int RunCommandLine(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err,
                   const std::atomic<bool>* cancel = nullptr,
                   std::optional<ProgressPrinter::Style> progressStyle = std::nullopt);

// The text of --help.
std::string UsageText();

// The revision as the command line gives it: decimal, signed 32-bit. Raises
// EUsageError.
std::int32_t ParseRevision(std::string_view text);

} // namespace publish
