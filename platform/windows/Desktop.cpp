// The user's desktop session on Windows: the shell's known folders and a
// shell link on the user's desktop, made through the shell's COM objects.
#include "Desktop.h"

#include "WideText.h"

#include "WindowsApi.h"

#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <cwctype>
#include <string_view>

namespace platform {
namespace {

// The longest shortcut name kept, in UTF-16 units: with ".lnk" it stays well
// inside the 255 that a file name may have, and leaves room in MAX_PATH.
constexpr std::size_t kMaxLinkNameLength = 120;

// A known folder's path in UTF-8, or empty when the shell has none.
std::string KnownFolder(REFKNOWNFOLDERID id, DWORD flags) {
    wchar_t* path = nullptr;
    std::string folder;
    if (SUCCEEDED(::SHGetKnownFolderPath(id, flags, nullptr, &path)) && path)
        folder = Utf8(path);
    ::CoTaskMemFree(path);
    return folder;
}

std::wstring EnvironmentValue(const wchar_t* name) {
    const DWORD size = ::GetEnvironmentVariableW(name, nullptr, 0);
    if (size == 0)
        return {};
    std::wstring value(size, L'\0');
    const DWORD length = ::GetEnvironmentVariableW(name, value.data(), size);
    value.resize(length < size ? length : 0);
    return value;
}

// Paths given with "/" as the separator, which the shell's links do not take.
std::wstring SystemPath(const std::string& path) {
    std::wstring wide = Wide(path);
    for (wchar_t& c : wide)
        if (c == L'/')
            c = L'\\';
    return wide;
}

// Whether `stem` names a device, which Windows opens in place of a file of
// that name whatever extension follows it.
bool IsDeviceName(std::wstring_view stem) {
    while (!stem.empty() && stem.back() == L' ')
        stem.remove_suffix(1);
    std::wstring upper(stem);
    for (wchar_t& c : upper)
        c = static_cast<wchar_t>(std::towupper(c));
    for (const wchar_t* device : {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"})
        if (upper == device)
            return true;
    if (upper.size() == 4 &&
        (upper.compare(0, 3, L"COM") == 0 || upper.compare(0, 3, L"LPT") == 0)) {
        const wchar_t digit = upper[3];
        // The superscript digits count too.
        return (digit >= L'0' && digit <= L'9') || digit == L'\u00B9' || digit == L'\u00B2' ||
               digit == L'\u00B3';
    }
    return false;
}

// The file name for a shortcut's name: every character that a file name
// cannot hold (separators, the shell's wildcard and redirection characters,
// control characters) becomes "_", the name is shortened to what a path has
// room for, and a device's name gets a "_" in front.
std::wstring LinkFileName(const std::string& name) {
    std::wstring file = Wide(name);
    for (wchar_t& c : file)
        if (c < 0x20 || c == 0x7F ||
            std::wstring_view(L"<>:\"/\\|?*").find(c) != std::wstring_view::npos)
            c = L'_';
    if (file.size() > kMaxLinkNameLength) {
        std::size_t cut = kMaxLinkNameLength;
        // Not between the two halves of a character outside the BMP.
        if (file[cut] >= 0xDC00 && file[cut] <= 0xDFFF)
            --cut;
        file.resize(cut);
    }
    if (IsDeviceName(std::wstring_view(file).substr(0, file.find(L'.'))))
        file.insert(file.begin(), L'_');
    return file;
}

// COM on this thread for the life of the object. A thread where the caller
// has already set COM up in either model keeps it; only an initialisation
// made here is undone here.
class ComSession {
public:
    ComSession() {
        const HRESULT result =
            ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
        // S_FALSE: already set up in this model, and counted once more.
        initialised_ = result == S_OK || result == S_FALSE;
        usable_ = initialised_ || result == RPC_E_CHANGED_MODE;
    }
    ~ComSession() {
        if (initialised_)
            ::CoUninitialize();
    }
    ComSession(const ComSession&) = delete;
    ComSession& operator=(const ComSession&) = delete;

    bool Usable() const { return usable_; }

private:
    bool initialised_ = false;
    bool usable_ = false;
};

// One reference to a COM object, released at the end of its scope.
template <typename Interface> class ComReference {
public:
    ComReference() = default;
    ~ComReference() {
        if (object_)
            object_->Release();
    }
    ComReference(const ComReference&) = delete;
    ComReference& operator=(const ComReference&) = delete;

    Interface* operator->() const { return object_; }
    void** OutVoid() { return reinterpret_cast<void**>(&object_); }

private:
    Interface* object_ = nullptr;
};

} // namespace

std::string StateFolder() {
    std::wstring local = EnvironmentValue(L"LOCALAPPDATA");
    std::string folder =
        local.empty() ? KnownFolder(FOLDERID_LocalAppData, KF_FLAG_DEFAULT) : Utf8(local);
    while (!folder.empty() && (folder.back() == '\\' || folder.back() == '/'))
        folder.pop_back();
    return folder + "\\Quenmor";
}

std::string DesktopFolder() {
    return KnownFolder(FOLDERID_Desktop, KF_FLAG_CREATE);
}

bool CreateDesktopShortcut(const Shortcut& shortcut) {
    if (shortcut.name.empty())
        return false;
    const std::string desktop = DesktopFolder();
    if (desktop.empty())
        return false;
    const std::wstring path = Wide(desktop) + L"\\" + LinkFileName(shortcut.name) + L".lnk";

    ComSession com;
    if (!com.Usable())
        return false;
    ComReference<IShellLinkW> link;
    if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                  link.OutVoid())))
        return false;
    // SetPath answers S_FALSE for a program that is not there yet, which
    // the link may still point at.
    if (FAILED(link->SetPath(SystemPath(shortcut.program).c_str())) ||
        FAILED(link->SetWorkingDirectory(SystemPath(shortcut.folder).c_str())) ||
        FAILED(link->SetDescription(Wide(shortcut.description).c_str())))
        return false;
    if (!shortcut.icon.empty() &&
        FAILED(link->SetIconLocation(SystemPath(shortcut.icon).c_str(), 0)))
        return false;
    ComReference<IPersistFile> file;
    if (FAILED(link->QueryInterface(IID_IPersistFile, file.OutVoid())))
        return false;
    // Saving over a link of the same name replaces it.
    return SUCCEEDED(file->Save(path.c_str(), TRUE));
}

bool OpenInBrowser(const std::string& url) {
    // The shell answers a value above 32 when it started the handler.
    const HINSTANCE result =
        ::ShellExecuteW(nullptr, L"open", Wide(url).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    return reinterpret_cast<INT_PTR>(result) > 32;
}

bool OpenFolder(const std::string& path) {
    const HINSTANCE result = ::ShellExecuteW(nullptr, L"open", SystemPath(path).c_str(), nullptr,
                                             nullptr, SW_SHOWNORMAL);
    return reinterpret_cast<INT_PTR>(result) > 32;
}

void PreferCurrentBrowserMode(const std::string& programFileName) {
    if (programFileName.empty())
        return;
    // Documents shown in the mode of Internet Explorer 11, whatever their
    // own !DOCTYPE asks for: the newest that the control has.
    constexpr DWORD kInternetExplorer11 = 11001;
    HKEY key = nullptr;
    if (::RegCreateKeyExW(HKEY_CURRENT_USER,
                          L"Software\\Microsoft\\Internet Explorer\\Main\\FeatureControl\\"
                          L"FEATURE_BROWSER_EMULATION",
                          0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr, &key,
                          nullptr) != ERROR_SUCCESS)
        return;
    const DWORD mode = kInternetExplorer11;
    ::RegSetValueExW(key, Wide(programFileName).c_str(), 0, REG_DWORD,
                     reinterpret_cast<const BYTE*>(&mode), sizeof mode);
    ::RegCloseKey(key);
}

} // namespace platform
