// Starting programs and finding out about this one.
#pragma once

#include "SystemNames.h"

#include <string>
#include <string_view>
#include <vector>

namespace platform {

// The absolute path of this program's own file, or empty text when the system
// does not say.
std::string ExecutablePath();

// This process's identifier.
long ProcessId();

// Lets the calling thread yield the processor to the program's other threads
// whenever they want it: for background work that must not slow the threads
// the player waits on (the window's, and the one that installs).
void LowerCurrentThreadPriority();

// Starts `program` with `arguments` in `folder`, detached from this process
// (its own session, no terminal, standard streams on the null device), and
// does not wait for it. A script (".sh") is run by the system's shell.
// Returns whether the program could be started.
bool StartDetached(const std::string& program, const std::vector<std::string>& arguments,
                   const std::string& folder);

// Raises EInOutError with the text the Windows build shows (Delphi's run-time
// texts) when the folder cannot be used as a working folder: "File not found"
// (it does not exist), "Invalid filename" (it, or a part of its path, is not a
// folder), "Too many open files", "File access denied", or "I/O error %d" with
// the system's error code for anything else.
void CheckWorkingFolder(const std::string& folder);

// Whether `text` ends with `ending` (given in lower case) in any letter case.
bool EndsWithNoCase(std::string_view text, std::string_view ending);

// Whether `program` is a Windows program or batch file: its name ends with
// ".exe", ".bat" or ".cmd" in any letter case.
bool IsWindowsProgram(const std::string& program);

// The path of the program `name` on the search path (PATH), or empty text.
std::string FindOnPath(const std::string& name);

// Starts a program as StartDetached does, in `folder`. A Windows program or
// batch file runs through Wine, found on the search path: "wine PROGRAM ARGS"
// (PROGRAM as an absolute path), or "wine cmd /c SCRIPT ARGS" with the batch
// file's name, which cmd finds in its working folder. Raises Exception when
// Wine is needed and not installed. Returns whether the program (or Wine)
// could be started.
bool StartProgram(const std::string& program, const std::vector<std::string>& arguments,
                  const std::string& folder);

// Asks the system to open `file` in `folder`, hidden, without waiting: on
// Windows the shell's "open" with its window hidden (a batch file runs in
// its command interpreter); elsewhere as StartProgram starts it. Returns
// whether that could be asked; raises what StartProgram raises.
bool OpenHidden(const std::string& file, const std::string& folder);

// Whether this process runs with the system administrator's rights (the
// embedded browser's sandbox refuses to start then).
bool RunningAsAdministrator();

// A command line written for Windows made usable here: its "\" separators
// become this system's.
std::string CommandLineToLocal(const std::string& commandLine);

// A script's text (UTF-8) in the encoding the system's command interpreter
// reads: the ANSI code page on Windows (a character it lacks becomes "?"),
// UTF-8 as it stands elsewhere.
std::string ToScriptEncoding(const std::string& utf8);

// The folder that holds the system's "hosts" file.
std::string DefaultHostsFolder();

// Whether `text` is an IPv4 or IPv6 address literal.
bool IsIpAddressLiteral(const std::string& text);

} // namespace platform
