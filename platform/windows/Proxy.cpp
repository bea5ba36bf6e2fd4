// The user's Internet settings on Windows, as WinINet programs and the
// system's settings pages keep them under HKCU: ProxyEnable, ProxyServer
// ("host:port", or "http=host:port;https=host:port;..."), ProxyOverride
// (";"-separated hosts, "<local>" for names without a dot). An automatic
// configuration script is not run; its proxies are not used.
#include "Http.h"

#include "WideText.h"
#include "WindowsApi.h"

#include <cstdlib>

namespace platform {
namespace {

constexpr const wchar_t* kSettings =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

std::string ReadText(const wchar_t* name) {
    DWORD size = 0;
    if (::RegGetValueW(HKEY_CURRENT_USER, kSettings, name, RRF_RT_REG_SZ, nullptr, nullptr,
                       &size) != ERROR_SUCCESS ||
        size < sizeof(wchar_t))
        return {};
    std::wstring text(size / sizeof(wchar_t), L'\0');
    if (::RegGetValueW(HKEY_CURRENT_USER, kSettings, name, RRF_RT_REG_SZ, nullptr, text.data(),
                       &size) != ERROR_SUCCESS)
        return {};
    text.resize(size / sizeof(wchar_t));
    while (!text.empty() && text.back() == L'\0')
        text.pop_back();
    return Utf8(text);
}

bool Enabled() {
    DWORD value = 0, size = sizeof value;
    return ::RegGetValueW(HKEY_CURRENT_USER, kSettings, L"ProxyEnable", RRF_RT_REG_DWORD, nullptr,
                          &value, &size) == ERROR_SUCCESS &&
           value != 0;
}

std::string Trimmed(std::string text) {
    text.erase(0, text.find_first_not_of(" \t"));
    text.erase(text.find_last_not_of(" \t") + 1);
    return text;
}

bool EnvironmentNamesAProxy() {
    for (const char* name :
         {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
        if (const char* value = std::getenv(name); value && *value)
            return true;
    return false;
}

} // namespace

ProxySettings SystemProxy() {
    ProxySettings settings;
    if (EnvironmentNamesAProxy() || !Enabled())
        return settings;
    const std::string server = ReadText(L"ProxyServer");
    // One proxy for every scheme, or one per scheme.
    std::size_t start = 0;
    while (start <= server.size()) {
        std::size_t end = server.find(';', start);
        if (end == std::string::npos)
            end = server.size();
        const std::string part = Trimmed(server.substr(start, end - start));
        const std::size_t equals = part.find('=');
        if (equals == std::string::npos) {
            if (!part.empty() && settings.http.empty())
                settings.http = settings.https = part;
        } else {
            const std::string scheme = Trimmed(part.substr(0, equals));
            const std::string proxy = Trimmed(part.substr(equals + 1));
            if (scheme == "http")
                settings.http = proxy;
            else if (scheme == "https")
                settings.https = proxy;
        }
        start = end + 1;
    }
    // The hosts reached directly, as libcurl lists them.
    const std::string overrides = ReadText(L"ProxyOverride");
    start = 0;
    while (start <= overrides.size()) {
        std::size_t end = overrides.find(';', start);
        if (end == std::string::npos)
            end = overrides.size();
        std::string host = Trimmed(overrides.substr(start, end - start));
        start = end + 1;
        if (host == "<local>")
            host = "localhost,127.0.0.1,::1"; // libcurl has no "names without a dot"
        else if (host.rfind("*.", 0) == 0)
            host.erase(0, 1); // ".example.com": the domain and every name below it
        if (host.empty() || host.find('*') != std::string::npos)
            continue;
        settings.bypass += (settings.bypass.empty() ? "" : ",") + host;
    }
    return settings;
}

} // namespace platform
