// Names and separators of Windows: what the shared platform headers give as
// constants.
#pragma once

namespace platform {

// The folder separator of local paths (the system also takes "/").
inline constexpr char kPathSeparator = '\\';
// Every character that ends a folder's name in a path ("C:game.exe" is a
// file in drive C's current folder).
inline constexpr const char* kFolderEnds = "\\/:";

// The update script, a batch file for the command interpreter.
inline constexpr const char* kUpdateScriptName = "Update.bat";
inline constexpr bool kUpdateScriptIsBatch = true;

// The line ending of the system's own text files.
inline constexpr const char* kLineEnding = "\r\n";

} // namespace platform
