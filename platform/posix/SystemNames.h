// Names and separators of the systems other than Windows: what the shared
// platform headers give as constants.
#pragma once

namespace platform {

// The folder separator of local paths.
inline constexpr char kPathSeparator = '/';

// The update script of this system, and whether it is a Windows batch file.
inline constexpr const char* kUpdateScriptName = "Update.sh";
inline constexpr bool kUpdateScriptIsBatch = false;

// The line ending of the system's own text files.
inline constexpr const char* kLineEnding = "\n";

} // namespace platform
