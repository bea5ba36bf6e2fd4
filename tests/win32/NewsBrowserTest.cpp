// The news panel: its window in the main window, the browser control in it
// when the system has one (Wine here may have none that shows pages: then
// the panel stays blank), navigation and teardown safe either way, nothing
// called once the panel is gone; and the program's entry for the control's
// current document mode, read back from the registry of the Wine prefix.
#include "NewsBrowser.h"
#include "Desktop.h"

#include <gtest/gtest.h>

#include <ole2.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

constexpr const wchar_t* kEmulationKey =
    L"Software\\Microsoft\\Internet Explorer\\Main\\FeatureControl\\FEATURE_BROWSER_EMULATION";

// A message-only window to hold the panel, as the main window does.
class ParentWindow {
public:
    ParentWindow() {
        handle_ = ::CreateWindowExW(0, L"Static", L"", 0, 0, 0, 400, 300, HWND_MESSAGE, nullptr,
                                    ::GetModuleHandleW(nullptr), nullptr);
    }
    ~ParentWindow() {
        if (handle_)
            ::DestroyWindow(handle_);
    }
    ParentWindow(const ParentWindow&) = delete;
    ParentWindow& operator=(const ParentWindow&) = delete;
    HWND Handle() const { return handle_; }

private:
    HWND handle_ = nullptr;
};

// Handles the thread's messages for `time`, as the window's loop would.
void HandleMessagesFor(std::chrono::milliseconds time) {
    const auto until = Clock::now() + time;
    for (int i = 0; i < 10000 && Clock::now() < until; ++i) {
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}

// The program's value under the emulation key, or -1 when there is none.
long long EmulationValue(const std::wstring& program) {
    DWORD value = 0;
    DWORD size = sizeof value;
    if (::RegGetValueW(HKEY_CURRENT_USER, kEmulationKey, program.c_str(), RRF_RT_REG_DWORD, nullptr,
                       &value, &size) != ERROR_SUCCESS)
        return -1;
    return value;
}

void RemoveEmulationValue(const std::wstring& program) {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, kEmulationKey, 0, KEY_SET_VALUE, &key) ==
        ERROR_SUCCESS) {
        ::RegDeleteValueW(key, program.c_str());
        ::RegCloseKey(key);
    }
}

class NewsBrowserTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(SUCCEEDED(::OleInitialize(nullptr))); }
    void TearDown() override { ::OleUninitialize(); }
};

} // namespace

TEST_F(NewsBrowserTest, ThePanelIsAChildAtItsBoundsWithOrWithoutTheControl) {
    ParentWindow parent;
    ASSERT_NE(parent.Handle(), nullptr);
    int completions = 0;
    HWND panel = nullptr;
    {
        TNewsBrowser browser(parent.Handle(), RECT{10, 20, 310, 220});
        browser.OnNavigateComplete = [&] { ++completions; };
        panel = browser.Window();
        ASSERT_NE(panel, nullptr);
        EXPECT_EQ(::GetParent(panel), parent.Handle());
        EXPECT_TRUE(::GetWindowLongPtrW(panel, GWL_STYLE) & WS_CHILD);
        RECT area{};
        ::GetWindowRect(panel, &area);
        ::MapWindowPoints(HWND_DESKTOP, parent.Handle(), reinterpret_cast<POINT*>(&area), 2);
        EXPECT_EQ(area.left, 10);
        EXPECT_EQ(area.top, 20);
        EXPECT_EQ(area.right, 310);
        EXPECT_EQ(area.bottom, 220);
        // Hidden until the window shows it.
        EXPECT_FALSE(::GetWindowLongPtrW(panel, GWL_STYLE) & WS_VISIBLE);
        browser.Show(true);
        EXPECT_TRUE(::GetWindowLongPtrW(panel, GWL_STYLE) & WS_VISIBLE);

        // With the control, its window fills the panel.
        if (browser.Created()) {
            const HWND control = ::GetWindow(panel, GW_CHILD);
            ASSERT_NE(control, nullptr);
            ::GetClientRect(control, &area);
            EXPECT_EQ(area.right - area.left, 300);
            EXPECT_EQ(area.bottom - area.top, 200);
        }
        std::printf("browser control %s\n", browser.Created() ? "made" : "not made");

        browser.Navigate("");
        browser.Navigate("http://127.0.0.1:9/news.html");
        browser.Navigate("about:blank");
        HandleMessagesFor(std::chrono::milliseconds(300));
        browser.Show(false);
        EXPECT_FALSE(::GetWindowLongPtrW(panel, GWL_STYLE) & WS_VISIBLE);
        std::printf("%d pages shown\n", completions);
        if (!browser.Created()) {
            EXPECT_EQ(completions, 0);
        }
    }
    // Gone with its window, and nothing reaches the window any more.
    EXPECT_FALSE(::IsWindow(panel));
    const int before = completions;
    HandleMessagesFor(std::chrono::milliseconds(200));
    EXPECT_EQ(completions, before);
    EXPECT_EQ(::GetWindow(parent.Handle(), GW_CHILD), nullptr);
}

TEST_F(NewsBrowserTest, SeveralPanelsComeAndGoInAnyOrder) {
    ParentWindow parent;
    auto first = std::make_unique<TNewsBrowser>(parent.Handle(), RECT{0, 0, 100, 100});
    auto second = std::make_unique<TNewsBrowser>(parent.Handle(), RECT{100, 0, 200, 100});
    ASSERT_NE(first->Window(), nullptr);
    ASSERT_NE(second->Window(), nullptr);
    EXPECT_EQ(first->Created(), second->Created());
    first->Navigate("about:blank");
    first.reset();
    second->Navigate("about:blank");
    HandleMessagesFor(std::chrono::milliseconds(100));
    second.reset();
    EXPECT_EQ(::GetWindow(parent.Handle(), GW_CHILD), nullptr);
}

// On a thread that the program did not initialise OLE on: no control, a
// blank panel, and nothing else changes.
TEST(NewsBrowser, WithoutOleThePanelStaysBlank) {
    bool created = true, panel = false, gone = false;
    std::thread thread([&] {
        ParentWindow parent;
        {
            TNewsBrowser browser(parent.Handle(), RECT{0, 0, 50, 50});
            created = browser.Created();
            panel = browser.Window() != nullptr;
            browser.Navigate("about:blank");
            browser.Show(true);
        }
        gone = ::GetWindow(parent.Handle(), GW_CHILD) == nullptr;
    });
    thread.join();
    EXPECT_FALSE(created);
    EXPECT_TRUE(panel);
    EXPECT_TRUE(gone);
}

TEST(NewsBrowser, TheProgramAsksForTheControlsCurrentMode) {
    const std::wstring program = L"QuenmorNewsTest.exe";
    RemoveEmulationValue(program);
    platform::PreferCurrentBrowserMode("QuenmorNewsTest.exe");
    EXPECT_EQ(EmulationValue(program), 11001);

    // An older mode written by someone else is replaced.
    HKEY key = nullptr;
    ASSERT_EQ(::RegOpenKeyExW(HKEY_CURRENT_USER, kEmulationKey, 0, KEY_SET_VALUE, &key),
              ERROR_SUCCESS);
    const DWORD old = 7000;
    ::RegSetValueExW(key, program.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&old),
                     sizeof old);
    ::RegCloseKey(key);
    platform::PreferCurrentBrowserMode("QuenmorNewsTest.exe");
    EXPECT_EQ(EmulationValue(program), 11001);

    // A name beyond ASCII is the program's name as the system spells it.
    const std::wstring cyrillic = L"\u041b\u0430\u0443\u043d\u0447\u0435\u0440.exe";
    RemoveEmulationValue(cyrillic);
    platform::PreferCurrentBrowserMode(
        "\xd0\x9b\xd0\xb0\xd1\x83\xd0\xbd\xd1\x87\xd0\xb5\xd1\x80.exe");
    EXPECT_EQ(EmulationValue(cyrillic), 11001);

    // No name, no entry (the key's default value stays unset).
    const long long unnamedBefore = EmulationValue(L"");
    platform::PreferCurrentBrowserMode("");
    EXPECT_EQ(EmulationValue(L""), unnamedBefore);

    RemoveEmulationValue(program);
    RemoveEmulationValue(cyrillic);
}
