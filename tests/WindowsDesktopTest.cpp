// The desktop session on Windows: the state folder from %LOCALAPPDATA%, and
// shell links on the desktop read back through the shell as it reads them.
// Links are made on the desktop of the Wine prefix and removed at the end.
#include "Desktop.h"
#include "Files.h"
#include "TestSupport.h"
#include "WideText.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <filesystem>
#include <optional>
#include <set>
#include <thread>

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

// Sets an environment variable for the life of the object.
class ScopedEnvironment {
public:
    ScopedEnvironment(const wchar_t* name, const std::optional<std::string>& value) : name_(name) {
        wchar_t buffer[32768];
        const DWORD length = ::GetEnvironmentVariableW(name, buffer, 32768);
        if (length > 0 && length < 32768)
            saved_ = std::wstring(buffer, length);
        ::SetEnvironmentVariableW(name, value ? platform::Wide(*value).c_str() : nullptr);
    }
    ~ScopedEnvironment() {
        ::SetEnvironmentVariableW(name_.c_str(), saved_ ? saved_->c_str() : nullptr);
    }

private:
    std::wstring name_;
    std::optional<std::wstring> saved_;
};

// The names of the files in the desktop folder.
std::set<std::string> DesktopFiles() {
    std::set<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(platform::FsPath(platform::DesktopFolder()), error))
        names.insert(platform::PathText(entry.path().filename()));
    return names;
}

// Removes the links a test made from the desktop, whatever its outcome.
class DesktopLinks {
public:
    DesktopLinks() : before_(DesktopFiles()) {}
    ~DesktopLinks() {
        for (const std::string& name : Made()) {
            std::error_code error;
            fs::remove(platform::FsPath(platform::DesktopFolder() + "\\" + name), error);
        }
    }
    // The files that appeared on the desktop since the object was made.
    std::set<std::string> Made() const {
        std::set<std::string> made;
        for (const std::string& name : DesktopFiles())
            if (!before_.count(name))
                made.insert(name);
        return made;
    }

private:
    std::set<std::string> before_;
};

struct LinkContent {
    std::string program;
    std::string folder;
    std::string description;
    std::string icon;
};

// A link as the shell reads it; nullopt when it cannot be loaded.
std::optional<LinkContent> ReadLink(const std::string& path) {
    IShellLinkW* link = nullptr;
    if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                  reinterpret_cast<void**>(&link))))
        return std::nullopt;
    std::optional<LinkContent> content;
    IPersistFile* file = nullptr;
    if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))) &&
        SUCCEEDED(file->Load(platform::Wide(path).c_str(), STGM_READ))) {
        wchar_t text[1024] = {};
        int index = 0;
        content.emplace();
        // The target as the shell starts it: from the link's item list,
        // which holds the whole name where the path that GetPath gives may
        // have been kept in the ANSI code page (Wine keeps only that).
        PIDLIST_ABSOLUTE list = nullptr;
        if (SUCCEEDED(link->GetIDList(&list)) && list && ::SHGetPathFromIDListW(list, text))
            content->program = platform::Utf8(text);
        ::CoTaskMemFree(list);
        text[0] = L'\0';
        text[0] = L'\0';
        if (SUCCEEDED(link->GetWorkingDirectory(text, 1024)))
            content->folder = platform::Utf8(text);
        text[0] = L'\0';
        if (SUCCEEDED(link->GetDescription(text, 1024)))
            content->description = platform::Utf8(text);
        text[0] = L'\0';
        if (SUCCEEDED(link->GetIconLocation(text, 1024, &index)))
            content->icon = platform::Utf8(text);
    }
    if (file)
        file->Release();
    link->Release();
    return content;
}

// COM for the test's own reading of links.
class TestCom {
public:
    TestCom() { ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
    ~TestCom() { ::CoUninitialize(); }
};

} // namespace

TEST(WindowsDesktop, StateFolderIsBelowLocalAppData) {
    TempDir dir;
    const std::string local = dir / "Локальные данные";
    {
        ScopedEnvironment environment(L"LOCALAPPDATA", local);
        EXPECT_EQ(platform::StateFolder(), local + "\\Quenmor");
    }
    {
        ScopedEnvironment environment(L"LOCALAPPDATA", local + "\\");
        EXPECT_EQ(platform::StateFolder(), local + "\\Quenmor");
    }
    EXPECT_FALSE(Exists(local + "\\Quenmor")) << "the folder is made by whoever writes in it";
    // Without the variable, the shell's folder, never the current one.
    ScopedEnvironment environment(L"LOCALAPPDATA", std::nullopt);
    const std::string state = platform::StateFolder();
    EXPECT_EQ(state.substr(1, 2), ":\\") << state;
    EXPECT_EQ(state.substr(state.size() - 8), "\\Quenmor") << state;
}

TEST(WindowsDesktop, ShortcutsLandAsOneLinkEachAndReadBack) {
    TestCom com;
    TempDir dir;
    const std::string folder = dir / "Игры";
    const std::string program = folder + "\\Quenmor.exe";
    WriteFile(program, "");
    DesktopLinks links;
    ASSERT_FALSE(platform::DesktopFolder().empty());

    platform::Shortcut shortcut;
    shortcut.name = "Мой клиент";
    shortcut.description = "Запуск игры";
    shortcut.program = program;
    shortcut.folder = folder;
    ASSERT_TRUE(platform::CreateDesktopShortcut(shortcut));
    const std::string cyrillic = platform::DesktopFolder() + "\\Мой клиент.lnk";
    std::optional<LinkContent> read = ReadLink(cyrillic);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->program, program);
    EXPECT_EQ(read->folder, folder);
    EXPECT_EQ(read->description, "Запуск игры");

    // Made again with another description and an icon: the same file,
    // replaced; "/" in the paths comes out as the system's separator.
    shortcut.description = "Quenmor";
    shortcut.icon = folder + "/quenmor.ico";
    shortcut.program = folder + "/Quenmor.exe";
    ASSERT_TRUE(platform::CreateDesktopShortcut(shortcut));
    read = ReadLink(cyrillic);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->description, "Quenmor");
    EXPECT_EQ(read->program, program);
    EXPECT_EQ(read->icon, folder + "\\quenmor.ico");

    // Separators and the other characters no file name holds stay in the
    // desktop folder; a device's name does not open the device.
    shortcut.name = "a/b\\c:d*e?f\"g<h>i|j\tk";
    ASSERT_TRUE(platform::CreateDesktopShortcut(shortcut));
    shortcut.name = "con";
    ASSERT_TRUE(platform::CreateDesktopShortcut(shortcut));
    EXPECT_EQ(links.Made(),
              (std::set<std::string>{"Мой клиент.lnk", "a_b_c_d_e_f_g_h_i_j_k.lnk", "_con.lnk"}));
    read = ReadLink(platform::DesktopFolder() + "\\a_b_c_d_e_f_g_h_i_j_k.lnk");
    ASSERT_TRUE(read);
    EXPECT_EQ(read->folder, folder);

    // An empty name writes nothing.
    shortcut.name.clear();
    EXPECT_FALSE(platform::CreateDesktopShortcut(shortcut));
    EXPECT_EQ(links.Made().size(), 3u);

    // Each on a thread of its own, whose COM starts untouched: what the call
    // sets up it undoes, and a caller's own setup, in the other model, it
    // leaves as it found it.
    shortcut.name = "Мой клиент";
    bool madeAlone = false;
    HRESULT afterAlone = E_FAIL;
    std::thread([&] {
        madeAlone = platform::CreateDesktopShortcut(shortcut);
        afterAlone = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        if (SUCCEEDED(afterAlone))
            ::CoUninitialize();
    }).join();
    EXPECT_TRUE(madeAlone);
    EXPECT_EQ(afterAlone, S_OK) << "COM was left set up on the thread";
    bool madeInMta = false;
    HRESULT afterMta = E_FAIL;
    std::thread([&] {
        const HRESULT own = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        madeInMta = platform::CreateDesktopShortcut(shortcut);
        afterMta = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        if (SUCCEEDED(afterMta))
            ::CoUninitialize();
        if (SUCCEEDED(own))
            ::CoUninitialize();
    }).join();
    EXPECT_TRUE(madeInMta);
    EXPECT_EQ(afterMta, S_FALSE) << "the caller's COM was undone";
    EXPECT_EQ(links.Made().size(), 3u);
}
