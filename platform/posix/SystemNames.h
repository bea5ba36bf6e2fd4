// Names and separators of the systems other than Windows: what the shared
// platform headers give as constants.
#pragma once

namespace platform {

// The folder separator of local paths.
inline constexpr char kPathSeparator = '/';
// Every character that ends a folder's name in a path.
inline constexpr const char* kFolderEnds = "/";

// The update script of this system, and whether it is a Windows batch file.
inline constexpr const char* kUpdateScriptName = "Update.sh";
inline constexpr bool kUpdateScriptIsBatch = false;

// The line ending of the system's own text files.
inline constexpr const char* kLineEnding = "\n";

} // namespace platform
