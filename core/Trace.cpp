#include "Trace.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

bool Tracing() {
    static const bool on = std::getenv("QUENMOR_TRACE") != nullptr;
    return on;
}

void Trace(const char* event, const std::string& value) {
    if (!Tracing())
        return;
    static std::string pending;
    static auto written = std::chrono::steady_clock::now();
    const auto now = std::chrono::duration_cast<std::chrono::microseconds>(
                         std::chrono::system_clock::now().time_since_epoch())
                         .count();
    pending += "quenmor-trace " + std::to_string(now) + " " + event;
    if (!value.empty())
        pending += " " + value;
    pending += "\n";
    const bool frequent = std::strncmp(event, "gauge", 5) == 0 || std::strcmp(event, "status") == 0;
    const auto steady = std::chrono::steady_clock::now();
    if (frequent && steady - written < std::chrono::milliseconds(50) && pending.size() < 65536)
        return;
    std::fwrite(pending.data(), 1, pending.size(), stderr);
    std::fflush(stderr);
    pending.clear();
    written = steady;
}
