// A stand-in program for the tests that need another process:
//
//   quenmor-test-child sleep SECONDS       waits, then exits 0
//   quenmor-test-child linger SECONDS      the same, and on Windows it cannot
//                                          be ended by other processes (its
//                                          own DACL grants nothing), as a
//                                          launcher that a kill does not end
//                                          at once
//   quenmor-test-child hold-lock FOLDER    takes the installation lock of
//                                          FOLDER, writes "y" (held) or "n"
//                                          into FOLDER/held.txt, and keeps it
//                                          until FOLDER/release.txt exists,
//                                          30 s at most
//   quenmor-test-child [note-folder]       writes its current folder into
//                                          "started-in.txt" there (a new
//                                          launcher build that was started)
//   quenmor-test-child ANYTHING ELSE       writes its arguments into
//                                          "unexpected-start.txt" there and
//                                          exits 2 (a program started under
//                                          another's name)
#include "Files.h"
#include "InstallLock.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#ifdef _WIN32
#include <windows.h>

#include <aclapi.h>
#endif

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if ((mode == "sleep" || mode == "linger") && argc > 2) {
#ifdef _WIN32
        if (mode == "linger") {
            // The handles opened before (its starter's) keep their rights.
            ACL nothing;
            if (!::InitializeAcl(&nothing, sizeof nothing, ACL_REVISION) ||
                ::SetSecurityInfo(::GetCurrentProcess(), SE_KERNEL_OBJECT,
                                  DACL_SECURITY_INFORMATION, nullptr, nullptr, &nothing,
                                  nullptr) != ERROR_SUCCESS)
                return 3;
        }
#endif
        std::this_thread::sleep_for(std::chrono::seconds(std::stoi(argv[2])));
        return 0;
    }
    if (mode == "hold-lock" && argc > 2) {
        const std::string folder = argv[2];
        const auto lock = platform::InstallLock::TryAcquire(folder);
        {
            std::ofstream(platform::FsPath(folder + "/held.tmp"))
                << (lock && lock->Exclusive() ? "y" : "n");
        }
        std::error_code error;
        std::filesystem::rename(platform::FsPath(folder + "/held.tmp"),
                                platform::FsPath(folder + "/held.txt"), error);
        // Ends when told to (or killed); a test that ends another way does
        // not leave it behind for long.
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!std::filesystem::exists(platform::FsPath(folder + "/release.txt"), error) &&
               std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        return 0;
    }
    if (mode.empty() || mode == "note-folder") {
        std::string folder = platform::CurrentFolder();
        folder.pop_back();
        std::ofstream(
            platform::FsPath(folder + std::string(1, platform::kPathSeparator) + "started-in.txt"),
            std::ios::binary)
            << folder << "\n";
        return 0;
    }
    std::ofstream record(platform::FsPath(platform::CurrentFolder() + "unexpected-start.txt"),
                         std::ios::binary);
    for (int i = 1; i < argc; ++i)
        record << argv[i] << "\n";
    return 2;
}
