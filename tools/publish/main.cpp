// quenmor-publish SOURCE OUT --rev N [options]: see UsageText in Publisher.cpp.
#include "Files.h"
#include "Publisher.h"

#include <atomic>
#include <cstdio>
#include <iostream>
#include <signal.h>
#include <string>
#include <vector>

namespace {

// Set by Ctrl-C or a termination request: the run stops, removes its staging
// folder and leaves OUT as it was.
std::atomic<bool> gStop{false};

extern "C" void OnStopSignal(int) {
    gStop = true;
}

} // namespace

int main(int argc, char** argv) {
    static_assert(std::atomic<bool>::is_always_lock_free);
    struct sigaction action {};
    action.sa_handler = &OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);

    const std::vector<std::string> arguments(argv + 1, argv + argc);
    return publish::RunCommandLine(arguments, std::cout, std::cerr, &gStop,
                                   platform::IsTerminal(stderr));
}
