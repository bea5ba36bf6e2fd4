// quenmor-update: one update run in the current folder, as the launcher
// window starts it, with the status texts printed line by line.
//
//   quenmor-update [--full-check] [--hosts-dir DIR] [--connections N]
//                  [--log FILE] [--verbose]
//
// Exit status: 0 when the run completed without failure, 1 when it ended with
// the failure text, 2 when it could not start.
#include "Console.h"
#include "ConsoleTarget.h"
#include "Errors.h"
#include "Files.h"
#include "GetFilesThr.h"
#include "InstallLock.h"
#include "Mirrors.h"
#include "Misc.h"
#include "Process.h"
#include "Profile.h"
#include "RevisionFloor.h"
#include "RunLog.h"

#include <atomic>
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
    "UpdateMirrors, CreateBackup, AtRevision, UpdateKey); a newer revision is\n"
    "recorded there. UpdateMirrors (comma-separated) are asked for the manifest\n"
    "when UpdatesUrl cannot give it.\n"
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
    "The last line on stdout is the run's end: \"up to date, revision N\",\n"
    "\"updated to revision N, K files, M MB\", or the failure text. Ctrl-C stops\n"
    "the run once the file being installed is in place; a second one ends it at once.\n"
    "\n"
    "Exit status: 0 updated or current, 1 the run failed, 2 it could not start\n"
    "(also when a launcher or another update is working in the installation),\n"
    "130 stopped by Ctrl-C.\n";

// Set by Ctrl-C or a termination request: the run is asked to stop as the
// window's close asks it. A second one ends the program at once.
std::atomic<bool> gStop{false};

} // namespace

int main(int argc, char** argv) {
    platform::PrepareConsole();
    platform::StopOnInterrupt(gStop);
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
            const std::string& value = args[++i];
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
    ConsoleTarget target(std::cout, std::cerr, settings, platform::IsTerminal(stderr) && !verbose,
                         log, verbose);
    GFilesThread run(target);
    try {
        run.UpdateUrl = platform::GetProfileString(settings, "main", "UpdatesUrl", "");
        run.UpdateMirrors =
            SettingMirrors(platform::GetProfileString(settings, "main", "UpdateMirrors", ""));
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
    bool interrupted = false;
    while (!run.WaitFor(std::chrono::milliseconds(100))) {
        if (gStop && !interrupted) {
            interrupted = true;
            run.Terminate();
            target.Interrupted();
        }
    }
    if (!log.FileProblem().empty())
        std::cerr << "quenmor-update: " << ConsoleTarget::Printable(log.FileProblem()) << "\n";
    if (const std::string last = target.FinalLine(run.AtRevision); !last.empty())
        std::cout << last << std::endl;
    if (interrupted || gStop) {
        std::cerr << "quenmor-update: stopped by an interrupt; the files not yet installed come "
                     "with the next run"
                  << std::endl;
        return 130;
    }
    if (!target.Completed() || target.LastStatus() == status::kFailed) {
        const std::string cause = log.FirstFailure();
        std::cerr << "quenmor-update: failed: "
                  << (cause.empty() ? std::string("no cause was reported") : cause) << std::endl;
        return 1;
    }
    return 0;
}
