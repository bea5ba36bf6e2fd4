// quenmor-publish SOURCE OUT --rev N [options]: see UsageText in CommandLine.cpp.
#include "CommandLine.h"
#include "Console.h"
#include "Files.h"

#include <atomic>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

namespace {

// Set by Ctrl-C or a termination request: the run stops, removes its staging
// folder and leaves OUT as it was.
std::atomic<bool> gStop{false};

} // namespace

int main(int argc, char** argv) {
    platform::PrepareConsole();
    platform::StopOnInterrupt(gStop);
    const std::vector<std::string> arguments = platform::ProgramArguments(argc, argv);
    return publish::RunCommandLine(arguments, std::cout, std::cerr, &gStop,
                                   platform::IsTerminal(stderr)
                                       ? publish::ProgressPrinter::Style::Terminal
                                       : publish::ProgressPrinter::Style::Lines);
}
