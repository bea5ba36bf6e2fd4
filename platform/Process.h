// Starting programs and finding out about this one.
#pragma once

#include <string>
#include <vector>

namespace platform {

// The absolute path of this program's own file, or empty text when the system
// does not say.
std::string ExecutablePath();

// This process's identifier.
long ProcessId();

// Starts `program` with `arguments` in `folder`, detached from this process
// (its own session, no terminal, standard streams on the null device), and
// does not wait for it. A script (".sh") is run by the system's shell.
// Returns whether the program could be started.
bool StartDetached(const std::string& program, const std::vector<std::string>& arguments,
                   const std::string& folder);

// Whether this process may enter the folder.
bool IsAccessibleFolder(const std::string& folder);

// The update script of this system, and whether it is a Windows batch file.
inline constexpr const char* kUpdateScriptName = "Update.sh";
inline constexpr bool kUpdateScriptIsBatch = false;

// The folder that holds the system's "hosts" file.
std::string DefaultHostsFolder();

// The line ending of the system's own text files.
inline constexpr const char* kLineEnding = "\n";

// Whether `text` is an IPv4 or IPv6 address literal.
bool IsIpAddressLiteral(const std::string& text);

} // namespace platform
