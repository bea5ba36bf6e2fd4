// A program that a test starts as a child process: in a folder of the test's
// choice, with its standard streams on the null device (or its output in a
// file of the test's choice) and without the proxy
// settings of the environment (loopback requests must reach the test's
// servers). Ended by force when the object goes.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace testing_support {

class ChildProcess {
public:
    using Clock = std::chrono::steady_clock;

    // `outputFile`: standard output and error go into this new file instead.
    ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                 const std::string& folder, const std::string& outputFile = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Started() const { return started_; }
    long Id() const { return id_; }

    struct Ending {
        bool killed = false; // ended by a kill (SIGKILL, TerminateProcess), not by exiting
        int code = 0;        // the exit code when it exited
        int signal = 0;      // the signal that ended it (POSIX)
    };
    // Waits until the process ends or `until` comes: how it ended, or
    // nothing while it still runs.
    std::optional<Ending> Wait(Clock::time_point until);
    // Ends it by force (SIGKILL, or TerminateProcess) and waits for it.
    void Kill();
    // Sends it SIGINT, as Ctrl-C on its terminal would (POSIX only).
    void Interrupt();

private:
    bool started_ = false;
    std::optional<Ending> ending_; // once it has ended
    bool killedByUs_ = false;
    long id_ = -1;
    std::intptr_t handle_ = -1; // the process handle on Windows
};

// A program's path as the build wrote it into the tests, as this system
// opens it: under Wine, the build's "/..." paths are on drive Z:.
std::string BuildPath(std::string path);

// The path of the small program the tests start as a stand-in (see
// TestChild.cpp), built beside the test programs.
std::string TestChildPath();

} // namespace testing_support
