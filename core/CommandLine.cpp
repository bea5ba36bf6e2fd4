#include "CommandLine.h"

namespace {

constexpr const char* kUsage =
    "usage: Quenmor [--help] [--version]\n"
    "\n"
    "The launcher of the Quenmor game client: it shows the news, brings the\n"
    "installation up to date with its update server, edits the game options and\n"
    "starts the game. It is started in the client's folder, which holds its\n"
    "settings in Quenmor.ini; on the first start it adds a desktop entry that\n"
    "starts it there.\n"
    "\n"
    "  --help     this text\n"
    "  --version  the launcher's version\n";

} // namespace

std::optional<std::string> CommandLineAnswer(const std::vector<std::string>& arguments) {
    for (const std::string& argument : arguments) {
        if (argument == "--help" || argument == "-h")
            return kUsage;
        if (argument == "--version")
            return std::string("Quenmor " QUENMOR_VERSION "\n");
    }
    return std::nullopt;
}
