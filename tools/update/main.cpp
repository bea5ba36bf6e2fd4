// quenmor-update: one update run in the current folder, as the launcher
// window starts it, with the status texts printed line by line.
//
//   quenmor-update [--full-check] [--hosts-dir DIR] [--connections N]
//                  [--log FILE] [--verbose]
//
// Exit status: 0 when the run completed without failure, 1 when it ended with
// the failure text, 2 when it could not start.
#include "Console.h"
#include "Errors.h"
#include "Files.h"
#include "GetFilesThr.h"
#include "InstallLock.h"
#include "Misc.h"
#include "Process.h"
#include "Profile.h"
#include "RevisionFloor.h"
#include "RunLog.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>

namespace {

constexpr const char* kUsage =
    "usage: quenmor-update [--full-check] [--hosts-dir DIR] [--connections N]\n"
    "                      [--log FILE] [--verbose]\n"
    "\n"
    "Brings the installation in the current folder up to date with its update\n"
    "server, as the launcher does, and prints every status text of the run.\n"
    "Settings come from \"Quenmor.ini\" in the current folder (UpdatesUrl,\n"
    "CreateBackup, AtRevision, UpdateKey); a newer revision is recorded there.\n"
    "With a trusted key (UpdateKey, or one built in), only a tree signed by it\n"
    "is taken. A run that fails prints its first cause as the last line on stderr.\n"
    "\n"
    "  --full-check     check every file, not only the critical ones\n"
    "  --hosts-dir DIR  folder holding the \"hosts\" file to maintain (default /etc)\n"
    "  --connections N  transfers at once to the update server, 1 to 16 (default 16)\n"
    "  --log FILE       appends the run's log to FILE: its start and settings, each\n"
    "                   failure with its cause, each retry, the end status (kept\n"
    "                   below 1 MB, the older part in FILE.1)\n"
    "  --verbose        prints those lines on stderr as well\n"
    "\n"
    "Exit status: 0 updated or current, 1 the run failed, 2 it could not start\n"
    "(also when a launcher or another update is working in the installation).\n";

using Clock = std::chrono::steady_clock;

// Control characters from a server must not reach the terminal.
std::string Printable(const std::string& text) {
    std::string out;
    for (char c : text)
        out += (static_cast<unsigned char>(c) < 32 || c == 127) ? '?' : c;
    return out;
}

std::string Megabytes(double bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MB", bytes / 1e6);
    return text;
}

std::string Bar(std::int64_t value, std::int64_t max, int width) {
    const int filled =
        max > 0 ? static_cast<int>(width * std::clamp<std::int64_t>(value, 0, max) / max) : 0;
    return std::string(static_cast<std::size_t>(filled), '#') +
           std::string(static_cast<std::size_t>(width - filled), '-');
}

// Prints the run: status texts on stdout, and on a terminal a live line with
// both gauges, the bytes of the current file and the speed on stderr.
class ConsoleTarget : public TUpdateTarget {
public:
    ConsoleTarget(std::string settingsFile, bool live, TRunLog& log, bool verbose)
        : settingsFile_(std::move(settingsFile)), live_(live), log_(log), verbose_(verbose) {}

    void LockCommands() override { locked_ = true; }
    void UnlockCommands() override {
        locked_ = false;
        completed_ = true;
        ClearLive();
        log_.RunEnded(lastStatus_);
    }
    void ShowStatus(const std::string& text) override {
        ClearLive();
        lastStatus_ = text;
        std::cout << Printable(text) << std::endl;
    }
    void SetFileGaugeMax(std::int32_t value) override {
        fileMax_ = value;
        speedFrom_ = Clock::now();
        speedBase_ = fileValue_ = 0;
        Draw(true);
    }
    void SetTotalGaugeMax(std::int32_t value) override {
        totalMax_ = value;
        Draw(true);
    }
    void SetFileProgress(std::int32_t value) override {
        if (value < fileValue_ || fileValue_ == 0) {
            speedFrom_ = Clock::now();
            speedBase_ = value;
        }
        fileValue_ = value;
        Draw(false);
    }
    void SetTotalProgress(std::int32_t value) override {
        totalValue_ = value;
        Draw(false);
    }
    // On a terminal the live line says what is tried again; elsewhere a line
    // of its own on stderr does, beside the status texts on stdout.
    void ShowRetry(const std::string& note) override {
        log_.Retry(note);
        if (verbose_)
            return; // the log's line is on stderr already
        if (!live_) {
            std::cerr << "retry: " << Printable(note) << std::endl;
            return;
        }
        retry_ = Printable(note);
        retryUntil_ = Clock::now() + std::chrono::seconds(5);
        Draw(true);
    }
    void ShowCause(const std::string& cause) override {
        ClearLive();
        log_.Failure(cause);
    }
    void ShowNote(const std::string& note) override { log_.Note(note); }
    void StoreRevision(const std::string& revision) override {
        platform::WriteProfileString(settingsFile_, "main", "AtRevision", revision);
    }
    void StoreTrustedRevision(const std::string& revision) override {
        RaiseTrustedRevision(settingsFile_, StrToInt(revision));
    }

    bool Completed() const { return completed_; }
    const std::string& LastStatus() const { return lastStatus_; }

private:
    void Draw(bool force) {
        if (!live_)
            return;
        const auto now = Clock::now();
        if (!force && now - drawn_ < std::chrono::milliseconds(100))
            return;
        drawn_ = now;
        const double seconds = std::chrono::duration<double>(now - speedFrom_).count();
        const double speed =
            seconds > 0.2 ? static_cast<double>(fileValue_ - speedBase_) / seconds : 0.0;
        std::string line = "file [" + Bar(fileValue_, fileMax_, 20) + "] " +
                           Megabytes(static_cast<double>(fileValue_)) + " / " +
                           Megabytes(static_cast<double>(fileMax_)) + "  total [" +
                           Bar(totalValue_, totalMax_, 20) + "] " + std::to_string(totalValue_) +
                           "/" + std::to_string(totalMax_ + 1);
        if (speed > 0)
            line += "  " + Megabytes(speed) + "/s";
        if (!retry_.empty() && now < retryUntil_)
            line += "  retry: " + retry_;
        std::cerr << "\r\033[K" << line << std::flush;
        shown_ = true;
    }
    void ClearLive() {
        if (shown_)
            std::cerr << "\r\033[K" << std::flush;
        shown_ = false;
    }

    std::string settingsFile_;
    bool live_;
    TRunLog& log_;
    bool verbose_;
    bool locked_ = false;
    bool completed_ = false;
    bool shown_ = false;
    std::string lastStatus_;
    std::string retry_; // what the live line says is tried again, for a while
    Clock::time_point retryUntil_{};
    std::int64_t fileMax_ = 100, fileValue_ = 0, totalMax_ = 100, totalValue_ = 0;
    std::int64_t speedBase_ = 0;
    Clock::time_point speedFrom_ = Clock::now();
    Clock::time_point drawn_{};
};

} // namespace

int main(int argc, char** argv) {
    platform::PrepareConsole();
    const std::vector<std::string> args = platform::ProgramArguments(argc, argv);
    bool fullCheck = false;
    bool verbose = false;
    std::string logFile;
    int connections = 0;
    std::string hostsFolder = platform::DefaultHostsFolder();
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--full-check") {
            fullCheck = true;
        } else if (arg == "--hosts-dir" && i + 1 < args.size()) {
            hostsFolder = args[++i];
        } else if (arg == "--connections" && i + 1 < args.size()) {
            const std::string value = args[++i];
            connections = value.size() <= 2 && !value.empty() &&
                                  value.find_first_not_of("0123456789") == std::string::npos
                              ? std::stoi(value)
                              : 0;
            if (connections < 1 || connections > GFilesThread::kMaxConnections) {
                std::cerr << "quenmor-update: --connections takes a number from 1 to "
                          << GFilesThread::kMaxConnections << ", not '" << value << "'\n";
                return 2;
            }
        } else if (arg == "--log" && i + 1 < args.size()) {
            logFile = args[++i];
        } else if (arg == "--verbose") {
            verbose = true;
        } else if (arg == "--help" || arg == "-h") {
            std::cout << kUsage;
            return 0;
        } else {
            std::cerr << "quenmor-update: unknown argument '" << arg << "'\n\n" << kUsage;
            return 2;
        }
    }
    std::error_code error;
    if (!std::filesystem::is_directory(platform::FsPath(hostsFolder), error)) {
        std::cerr << "quenmor-update: the hosts folder '" << hostsFolder << "' does not exist\n";
        return 2;
    }

    const std::string settings = platform::CurrentFolder() + "Quenmor.ini";
    if (!std::filesystem::exists(platform::FsPath(settings), error)) {
        std::cerr << "ОШИБКА: Quenmor.ini не найден !\n";
        return 2;
    }
    // One run per installation, also against a launcher window in it.
    std::unique_ptr<platform::InstallLock> lock;
    try {
        lock = platform::InstallLock::TryAcquire(platform::CurrentFolder());
    } catch (const Exception& e) {
        std::cerr << "quenmor-update: " << e.what() << "\n";
        return 2;
    }
    if (!lock) {
        std::cerr << "quenmor-update: the installation is busy: a launcher or another update is "
                     "working in it\n";
        return 2;
    }
    if (!logFile.empty()) {
        // A log asked for and not written would leave a failure unexplained.
        std::FILE* file = platform::OpenFile(logFile, "ab");
        if (!file) {
            std::cerr << "quenmor-update: cannot write the log '" << logFile
                      << "': " << platform::LastErrorText() << "\n";
            return 2;
        }
        std::fclose(file);
    }
    TRunLog log;
    log.SetFile(logFile);
    if (verbose)
        log.SetEcho(&std::cerr);
    ConsoleTarget target(settings, platform::IsTerminal(stderr) && !verbose, log, verbose);
    GFilesThread run(target);
    try {
        run.UpdateUrl = platform::GetProfileString(settings, "main", "UpdatesUrl", "");
        run.FullCheck = fullCheck;
        run.CreateBackup =
            StrToInt(platform::GetProfileString(settings, "main", "CreateBackup", "0"));
        run.AtRevision = StrToInt(platform::GetProfileString(settings, "main", "AtRevision", "0"));
        run.TrustedKeys =
            signing::TrustedKeys(platform::GetProfileString(settings, "main", "UpdateKey", ""));
        run.TrustedRevision = ReadTrustedRevision(settings);
        run.HostsFolder = hostsFolder;
        run.Connections = connections;
        // This program stands in for the launcher: a "self" entry that names
        // its own file replaces it.
        run.LauncherFile = platform::ExecutablePath();
        run.LauncherProcessId = platform::ProcessId();
    } catch (const Exception& e) {
        std::cerr << "quenmor-update: " << e.what() << "\n";
        return 2;
    }
    log.RunStarted(run.SettingsText());
    run.Start();
    run.WaitFor();
    if (!log.FileProblem().empty())
        std::cerr << "quenmor-update: " << Printable(log.FileProblem()) << "\n";
    if (!target.Completed() || target.LastStatus() == status::kFailed) {
        const std::string cause = log.FirstFailure();
        std::cerr << "quenmor-update: failed: "
                  << (cause.empty() ? std::string("no cause was reported") : cause) << std::endl;
        return 1;
    }
    return 0;
}
