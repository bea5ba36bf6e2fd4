// The 8-bit "ANSI" texts of the installation (manifest, settings files) are
// Windows-1251; this program works in UTF-8. Every conversion between the two
// goes through here.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace platform {

// Windows-1251 bytes to UTF-8. Never fails: the few unassigned code points
// (0x98) become U+FFFD.
std::string AnsiToUtf8(std::string_view ansi);

// UTF-8 to Windows-1251, or nothing when the text is not valid UTF-8 or holds
// a character that the code page cannot carry.
std::optional<std::string> Utf8ToAnsi(std::string_view utf8);

bool IsValidUtf8(std::string_view text);

// A value read from an 8-bit file: kept when it is valid UTF-8 already,
// otherwise read as Windows-1251.
std::string SettingsTextToUtf8(std::string_view text);

// A manifest path ("\" separators, Windows-1251) as a relative local path
// (UTF-8, with the system's separators: "\" kept on Windows, "/" elsewhere).
std::string ManifestPathToLocal(std::string_view manifestPath);

// A manifest path as a relative path with "/" separators, UTF-8: the form
// that addresses and the publisher's names use on every system.
std::string ManifestPathToRelative(std::string_view manifestPath);

// A relative local path ("/" or the system's separators) as the manifest
// writes it.
std::optional<std::string> LocalPathToManifest(std::string_view localPath);

// The text with letters folded to one case (ASCII and Cyrillic), for
// comparing file names the way Windows does. Invalid UTF-8 stays as it is.
std::string FoldCase(std::string_view utf8);

// One argument of a Windows command line, quoted where it must be so that
// the program's start-up code (CommandLineToArgvW) reads it back as it
// stands: inside quotes, a backslash is doubled only before a quote.
std::string WindowsCommandLineArgument(std::string_view text);

// Percent-encodes what an address cannot carry (blanks, controls, non-ASCII,
// and characters with a meaning in addresses), keeping "/" and the
// unreserved characters. For the path part appended to the update address.
std::string EncodeUrlPath(std::string_view utf8Path);

} // namespace platform
