#include "CommonControls.h"

#include <commctrl.h>

namespace {

// A function of a system library; the library stays loaded for the
// program's life. The common controls are looked up as an import would be,
// so that the version the manifest names is the one loaded; the others only
// in the system's folder.
template <class Function>
Function SystemFunction(const wchar_t* library, const char* name, DWORD search) {
    HMODULE module = LoadLibraryExW(library, nullptr, search);
    if (module == nullptr)
        return nullptr;
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

} // namespace

bool LoadCommonControls() {
    static const bool loaded = [] {
        using Init = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
        const auto init = SystemFunction<Init>(L"comctl32.dll", "InitCommonControlsEx", 0);
        if (init == nullptr)
            return false;
        const INITCOMMONCONTROLSEX controls{sizeof controls,
                                            ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
        return init(&controls) != FALSE;
    }();
    return loaded;
}

void DrawWithoutTheme(HWND control) {
    using SetTheme = HRESULT(WINAPI*)(HWND, LPCWSTR, LPCWSTR);
    static const auto setTheme =
        SystemFunction<SetTheme>(L"uxtheme.dll", "SetWindowTheme", LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (setTheme != nullptr)
        setTheme(control, L"", L"");
}
