// Settings files on Windows: the system's own profile functions. They read
// and write names and values in the ANSI code page; the wide-character
// versions are used with that conversion made here, which is what the
// 8-bit versions do inside, so that the file's path may hold any character.
#include "Profile.h"

#include "Errors.h"
#include "Files.h"
#include "WideText.h"

#include "WindowsApi.h"

#include <vector>

namespace platform {
namespace {

std::wstring FromAnsi(std::string_view bytes) {
    if (bytes.empty())
        return {};
    const int size = static_cast<int>(bytes.size());
    const int length = ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), size, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), size, wide.data(), length);
    return wide;
}

std::string ToAnsi(std::wstring_view wide) {
    if (wide.empty())
        return {};
    const int size = static_cast<int>(wide.size());
    const int length =
        ::WideCharToMultiByte(CP_ACP, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(length), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, wide.data(), size, bytes.data(), length, nullptr, nullptr);
    return bytes;
}

bool HasLineBreak(std::string_view text) {
    return text.find_first_of("\r\n") != std::string_view::npos;
}

bool IsBlank(std::string_view text) {
    return text.find_first_not_of(" \t") == std::string_view::npos;
}

} // namespace

std::string GetProfileString(const std::string& file, std::string_view section,
                             std::string_view key, std::string_view defaultValue) {
    std::vector<wchar_t> buffer(kMaxProfileValueLength + 1, L'\0');
    const DWORD length = ::GetPrivateProfileStringW(
        FromAnsi(section).c_str(), FromAnsi(key).c_str(), FromAnsi(defaultValue).c_str(),
        buffer.data(), static_cast<DWORD>(buffer.size()), Wide(file).c_str());
    return ToAnsi(std::wstring_view(buffer.data(), length));
}

void WriteProfileString(const std::string& file, std::string_view section, std::string_view key,
                        std::string_view value) {
    // The system would write a value with a line break as two lines, and a
    // key of that kind as something else; refused as on every system.
    const bool carried = !IsBlank(key) && key.find('=') == std::string_view::npos &&
                         key.front() != '[' && !HasLineBreak(section) && !HasLineBreak(key) &&
                         !HasLineBreak(value);
    // A read-only file is refused as Windows refuses it, also where the
    // system would let the superuser write it anyway (Wine run as root).
    const DWORD attributes = ::GetFileAttributesW(Wide(file).c_str());
    const bool readOnly =
        attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
    const std::string refused = FormatText("Unable to write to %s", file);
    if (!carried || readOnly)
        throw EInOutError(refused);
    if (!::WritePrivateProfileStringW(FromAnsi(section).c_str(), FromAnsi(key).c_str(),
                                      FromAnsi(value).c_str(), Wide(file).c_str()))
        throw EInOutError(refused, LastErrorText());
}

} // namespace platform
