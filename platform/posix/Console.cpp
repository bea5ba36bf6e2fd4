// Terminals take UTF-8 as it stands; arguments come as the system gives
// them; signals ask for a stop.
#include "Console.h"

#include <signal.h>

namespace platform {

std::vector<std::string> ProgramArguments(int argc, char** argv) {
    return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

void PrepareConsole() {}

bool OutputForWindowProgram() {
    return true;
}

namespace {

std::atomic<bool>* gStop = nullptr;

// The first request sets the flag; a second one ends the program as the
// signal would have, at once.
extern "C" void OnStopSignal(int signal) {
    if (gStop && !gStop->exchange(true))
        return;
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
    raise(signal);
}

} // namespace

void StopOnInterrupt(std::atomic<bool>& stop) {
    static_assert(std::atomic<bool>::is_always_lock_free);
    gStop = &stop;
    struct sigaction action {};
    action.sa_handler = &OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
}

} // namespace platform
