// Settings files in the Windows "profile" (INI) format: "[section]" lines
// followed by "key=value" lines. They stand in for GetPrivateProfileStringA and
// WritePrivateProfileStringA and read and write files made by the Windows
// programs, so they follow the same rules:
//
// - Section and key names compare without regard to the case of ASCII letters;
//   blanks (spaces, tabs) around section names, key names and values do not
//   count. A value enclosed in matching quotes (both " or both ') is read
//   without them. A line without "=" is not a key.
// - The first section of the name is the one that counts, and within it the
//   first line of the key; later duplicates are left alone.
// - Lines end with LF, CR LF or a CR alone. Ctrl-Z counts as a blank. A UTF-8
//   byte order mark at the start is skipped when reading and kept when
//   writing.
// - The lines before the first section line are the section with the empty
//   name; a "[]" line starts a section that no name finds.
// - Names and values are raw 8-bit bytes as they stand in the file (the files
//   of the installation are Windows-1251); callers convert texts themselves.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

// Longest value a read returns; longer ones are cut (the Windows programs read
// into a buffer of 2048 characters).
inline constexpr std::size_t kMaxProfileValueLength = 2047;

// The value of `key` in `section`, or `defaultValue` when the file, the
// section or the key is missing. A key present with an empty value gives the
// empty text.
std::string GetProfileString(const std::string& file, std::string_view section,
                             std::string_view key, std::string_view defaultValue);

// Sets `key` in `section` to `value` (blanks around it are not kept). Only the
// key's line changes; a missing key is added at the end of its section, a
// missing section at the end of the file, a missing file is created. Every
// other byte of the file stays as it was, and new lines take the line ending
// the file already uses (CR LF for a new file). The file is replaced in one
// step, so it is never left half written; a symbolic link is written through
// to its target.
//
// Raises EInOutError "Unable to write to %s" (the path as given) when the file
// cannot be written: its folder is missing or not writable, the file is
// read-only (no write permission for anyone counts as read-only, also for the
// superuser, like the read-only attribute on Windows), it is not a regular
// file, or the new content cannot be stored. A name or value that the format
// cannot carry (a line break anywhere, an empty key, "=" in the key, a key
// starting with "[") is refused the same way.
void WriteProfileString(const std::string& file, std::string_view section, std::string_view key,
                        std::string_view value);

} // namespace platform
