// The desktop session on Windows: the state folder from %LOCALAPPDATA%, and
// shell links on the desktop read back through the shell as it reads them.
// Links are made on the desktop of the Wine prefix and removed at the end.
#include "Desktop.h"
#include "Files.h"
#include "TestSupport.h"
#include "WideText.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <shlobj.h>

#include <optional>
#include <set>
#include <thread>

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

std::optional<std::string> Environment(const wchar_t* name) {
    wchar_t value[32768];
    const DWORD length = ::GetEnvironmentVariableW(name, value, 32768);
    return length && length < 32768 ? std::optional(platform::Utf8(value)) : std::nullopt;
}

void SetEnvironment(const wchar_t* name, const std::optional<std::string>& value) {
    ::SetEnvironmentVariableW(name, value ? platform::Wide(*value).c_str() : nullptr);
}

// The files on the desktop that were not there when the object was made;
// they are removed at its end.
class NewOnDesktop {
public:
    NewOnDesktop() : before_(All()) {}
    ~NewOnDesktop() {
        std::error_code error;
        for (const std::string& name : Names())
            fs::remove(platform::FsPath(platform::DesktopFolder() + "\\" + name), error);
    }
    std::set<std::string> Names() const {
        std::set<std::string> names;
        for (const std::string& name : All())
            if (!before_.count(name))
                names.insert(name);
        return names;
    }

private:
    static std::set<std::string> All() {
        std::set<std::string> names;
        std::error_code error;
        for (const auto& entry :
             fs::directory_iterator(platform::FsPath(platform::DesktopFolder()), error))
            names.insert(platform::PathText(entry.path().filename()));
        return names;
    }
    std::set<std::string> before_;
};

// A link's target, working folder, description and icon, one a line, as the
// shell reads them; empty when it cannot load the link. The target comes from
// the link's item list, which the shell starts: the path that GetPath gives
// may have been kept in the ANSI code page (Wine keeps only that).
std::string ReadLink(const std::string& path) {
    std::string read;
    IShellLinkW* link = nullptr;
    IPersistFile* file = nullptr;
    if (SUCCEEDED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                                     IID_IShellLinkW, reinterpret_cast<void**>(&link))) &&
        SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))) &&
        SUCCEEDED(file->Load(platform::Wide(path).c_str(), STGM_READ))) {
        wchar_t text[MAX_PATH] = {};
        PIDLIST_ABSOLUTE list = nullptr;
        if (SUCCEEDED(link->GetIDList(&list)) && list && ::SHGetPathFromIDListW(list, text))
            read = platform::Utf8(text);
        ::CoTaskMemFree(list);
        const auto line = [](auto get) {
            wchar_t value[MAX_PATH] = {};
            return "\n" + (SUCCEEDED(get(value)) ? platform::Utf8(value) : std::string("?"));
        };
        int index = 0;
        read += line([&](wchar_t* t) { return link->GetWorkingDirectory(t, MAX_PATH); });
        read += line([&](wchar_t* t) { return link->GetDescription(t, MAX_PATH); });
        read += line([&](wchar_t* t) { return link->GetIconLocation(t, MAX_PATH, &index); });
    }
    if (file)
        file->Release();
    if (link)
        link->Release();
    return read;
}

} // namespace

TEST(WindowsDesktop, StateFolderIsBelowLocalAppData) {
    const std::optional<std::string> saved = Environment(L"LOCALAPPDATA");
    TempDir dir;
    const std::string local = dir / "Локальные данные";
    for (const std::string& value : {local, local + "\\"}) {
        SetEnvironment(L"LOCALAPPDATA", value);
        EXPECT_EQ(platform::StateFolder(), local + "\\Quenmor");
    }
    EXPECT_FALSE(Exists(local + "\\Quenmor")) << "made by whoever writes in it";
    // Without the variable, the shell's folder, never the current one.
    SetEnvironment(L"LOCALAPPDATA", std::nullopt);
    const std::string state = platform::StateFolder();
    EXPECT_EQ(state.substr(1, 2), ":\\") << state;
    EXPECT_EQ(state.substr(state.size() - 8), "\\Quenmor") << state;
    SetEnvironment(L"LOCALAPPDATA", saved);
}

TEST(WindowsDesktop, ShortcutsLandAsOneLinkEachAndReadBack) {
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    TempDir dir;
    const std::string folder = dir / "Игры";
    WriteFile(folder + "\\Quenmor.exe", "");
    NewOnDesktop made;
    const std::string desktop = platform::DesktopFolder();
    ASSERT_FALSE(desktop.empty());

    platform::Shortcut shortcut{"Мой клиент", "Запуск игры", folder + "\\Quenmor.exe", folder, ""};
    ASSERT_TRUE(platform::CreateDesktopShortcut(shortcut));
    EXPECT_EQ(ReadLink(desktop + "\\Мой клиент.lnk"),
              folder + "\\Quenmor.exe\n" + folder + "\nЗапуск игры\n");
    // Made again: the same file, replaced; "/" in paths is the system's "\".
    shortcut.description = "Quenmor";
    shortcut.program = folder + "/Quenmor.exe";
    shortcut.icon = folder + "/q.ico";
    ASSERT_TRUE(platform::CreateDesktopShortcut(shortcut));
    EXPECT_EQ(ReadLink(desktop + "\\Мой клиент.lnk"),
              folder + "\\Quenmor.exe\n" + folder + "\nQuenmor\n" + folder + "\\q.ico");

    // Separators and the other characters no file name holds stay in the
    // desktop folder; a device's name does not open the device.
    for (const char* name : {"a/b\\c:d*e?f\"g<h>i|j\tk", "con", ""}) {
        shortcut.name = name;
        EXPECT_EQ(platform::CreateDesktopShortcut(shortcut), *name != '\0') << name;
    }
    const std::set<std::string> expected{"Мой клиент.lnk", "a_b_c_d_e_f_g_h_i_j_k.lnk", "_con.lnk"};
    EXPECT_EQ(made.Names(), expected);
    EXPECT_NE(ReadLink(desktop + "\\a_b_c_d_e_f_g_h_i_j_k.lnk"), "");

    // On threads whose COM starts untouched: what the call sets up it undoes;
    // a caller's own setup, in the other model, it leaves as it was.
    HRESULT alone = E_FAIL;
    HRESULT caller = E_FAIL;
    shortcut.name = "Мой клиент";
    std::thread([&] {
        EXPECT_TRUE(platform::CreateDesktopShortcut(shortcut));
        alone = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        ::CoUninitialize();
    }).join();
    std::thread([&] {
        ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        EXPECT_TRUE(platform::CreateDesktopShortcut(shortcut));
        caller = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        ::CoUninitialize();
        ::CoUninitialize();
    }).join();
    EXPECT_EQ(alone, S_OK) << "COM was left set up on the thread";
    EXPECT_EQ(caller, S_FALSE) << "the caller's COM was undone";
    EXPECT_EQ(made.Names(), expected);
    ::CoUninitialize();
}
