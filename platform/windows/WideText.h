// Text for the system's wide-character ("W") functions: this program holds
// every text, file names included, as UTF-8; Windows takes and gives UTF-16.
// Names from the manifest reach here already turned from Windows-1251 into
// UTF-8 by our own table, so they come out right whatever the system's ANSI
// code page is.
#pragma once

#include <string>
#include <string_view>

namespace platform {

std::wstring Wide(std::string_view utf8);
std::string Utf8(std::wstring_view wide);

// The system's text for an error code of GetLastError, in UTF-8, without the
// line break that the system appends.
std::string SystemErrorText(unsigned long code);

} // namespace platform
