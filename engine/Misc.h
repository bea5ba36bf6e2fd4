// Small routines shared by the update engine and the window side.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The non-empty pieces of `text` between characters of `delimiters`, from the
// last piece to the first: index 0 is the last field of a manifest entry.
std::vector<std::string> SplitFromEnd(std::string_view text, std::string_view delimiters);

// `text` with every occurrence of `search` replaced, left to right, without
// overlaps and without rescanning inserted text. An empty search text changes
// nothing.
std::string ReplaceText(std::string_view text, std::string_view search,
                        std::string_view replacement);

// Deletes a folder with everything in it when it exists; returns whether that
// succeeded (a folder that does not exist counts as success).
bool DeleteFolder(const std::string& path);

// Integer text as the settings and the manifest write it: optional blanks in
// front, an optional sign, then decimal digits, or hexadecimal digits after
// "$", "0x" or "0X". Raises EConvertError "'%s' is not a valid integer value".
std::int32_t StrToInt(std::string_view text);

// Whether a path taken from the manifest may be used inside the installation:
// relative, without drive letter, ":" or control characters, and without
// empty, "." or ".." components ("\" and "/" both separate folders).
bool IsSafeRelativePath(std::string_view manifestPath);
