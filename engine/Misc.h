// Small routines shared by the update engine and the window side.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The non-empty pieces of `text` between characters of `delimiters`, from the
// last piece to the first: index 0 is the last field of a manifest entry.
std::vector<std::string> SplitFromEnd(std::string_view text, std::string_view delimiters);

// `text` without the characters with codes 0 to 32 (blanks, tabs, line
// ends, other controls) at either end.
std::string_view TrimControl(std::string_view text);

// `text` with every occurrence of `search` replaced, left to right, without
// overlaps and without rescanning inserted text. An empty search text changes
// nothing.
std::string ReplaceText(std::string_view text, std::string_view search,
                        std::string_view replacement);

// Deletes a folder with everything in it when it exists; returns whether that
// succeeded (a folder that does not exist counts as success).
bool DeleteFolder(const std::string& path);

// UTC times as "YYYY-MM-DDTHH:MM:SSZ" (signed manifests' "Expires", the run
// log) and seconds since 1970-01-01T00:00:00Z. Parsing takes only real times
// of that exact form.
std::optional<std::int64_t> ParseUtcTime(std::string_view text);
std::string UtcTimeText(std::int64_t seconds);

// Integer text as the settings and the manifest write it: optional blanks in
// front, an optional sign, then decimal digits, or hexadecimal digits after
// "$", "0x" or "0X". Raises EConvertError "'%s' is not a valid integer value".
std::int32_t StrToInt(std::string_view text);
// The same for 64-bit values (file sizes).
std::int64_t StrToInt64(std::string_view text);

// Boolean text as the game's options write it: a number is true when it is
// not zero; otherwise "true" or "false" in any letter case. Raises
// EConvertError "'%s' is not a valid boolean value" for anything else.
bool StrToBool(std::string_view text);

// Whether a path taken from the manifest may be used inside the installation:
// relative, without drive letter, ":" or control characters, and without
// empty, "." or ".." components ("\" and "/" both separate folders). On every
// system it also refuses what Windows would take for another file or for a
// device: a component that ends with a dot or a blank (Windows drops those,
// so "a." is "a" there), and a Windows device name (IsWindowsDeviceName).
bool IsSafeRelativePath(std::string_view manifestPath);

// Whether one component of a path is a name that Windows opens as a device in
// every folder: CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM1 to COM9 or LPT1 to
// LPT9, in any letter case, alone or before an extension ("nul.txt",
// "aux.tar.gz"), blanks before the dot included ("con .txt"). COM0 and LPT0
// are ordinary file names on Windows. The forms with the Latin-1 superscript
// digits ("COM¹") are devices too, but no Windows-1251 text spells them
// (its bytes B9, B2 and B3 are other letters), nor can a manifest.
bool IsWindowsDeviceName(std::string_view name);

// The 1-based position of the first occurrence of `pattern` in `text` that
// begins at or after position `start`, or 0 when there is none (exact
// comparison; Boyer-Moore-Horspool). An empty pattern is never found.
std::size_t FindFrom(std::size_t start, std::string_view text, std::string_view pattern);

// Whether `name` is a plain DNS host name: labels of letters, digits and
// hyphens (not at either end of a label), at most 63 characters each and 253
// in all, separated by single dots.
bool IsPlainHostName(std::string_view name);

// The script that replaces the running launcher `name` (in `folder`, given
// without a trailing separator) by its new build `name` + ".New", ends the
// launcher, starts the new one and deletes itself. The lines that move the new
// build are written only when it exists. Both end the launcher by its process
// id (ending every process of its image name would end the launcher of
// another installation as well), then wait until that process is gone, 10 s
// at most, before they touch the build: a killed process can take a moment to
// go, and Windows keeps its program file in use until then. Both quote every
// name. The Windows batch file uses CR LF and runs the system's programs by
// their paths in the system folder, not by a name that the installation
// folder, searched first, could answer.
std::string UpdateBatchText(const std::string& folder, const std::string& name, bool newBuildExists,
                            long processId);
std::string UpdateShellText(const std::string& folder, const std::string& name, bool newBuildExists,
                            long processId);

// Writes this system's update script for the launcher `name` (a file of the
// current folder) into the current folder, replacing an older one, and returns
// its path. The text is in the encoding the system's command interpreter
// reads (the ANSI code page on Windows). Raises EInOutError when it cannot be
// written.
std::string WriteUpdateScript(const std::string& name, long processId);

// A command line split the way Windows splits an unquoted one: the program is
// the shortest prefix ending at a blank (or the whole line) that names an
// existing file; the rest, split at blanks, are its arguments. With no such
// prefix, the whole line is the program's name.
struct CommandLine {
    std::string program;
    std::vector<std::string> arguments;
};
CommandLine SplitCommandLine(const std::string& commandLine);

// Starts a command line with the program's folder (everything up to its last
// separator) as its working folder, detached, without waiting; a Windows
// program or batch file runs through Wine where that is needed (see
// platform::StartProgram). Raises EInOutError when that folder cannot be used
// (platform::CheckWorkingFolder), Exception when Wine is needed and missing;
// whether the program itself started is not examined.
void RunInOwnFolder(const std::string& commandLine);
