// The main window where nothing can be shown or updated (no news address, an
// update server out of reach), through its windows: the news panel's own
// window hidden for the placeholder the window paints in the skin's colours,
// and the status line's tool tip, which gives the failed run's cause and the
// log's path over the line's bounds.
#include "LauncherLog.h"
#include "MainWindow.h"
#include "Messages.h"
#include "TestSupport.h"
#include "WideText.h"

#include <commctrl.h>
#include <ole2.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cwchar>
#include <filesystem>
#include <functional>

namespace {

using Clock = std::chrono::steady_clock;

// Handles the thread's messages, as the program's loop would, until `done`
// holds or `limit` has passed.
bool HandleMessagesUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto until = Clock::now() + limit;
    for (int i = 0; i < 100000 && !done() && Clock::now() < until; ++i) {
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
    return done();
}

BOOL CALLBACK FindNewsPanel(HWND child, LPARAM found) {
    wchar_t name[64] = {};
    ::GetClassNameW(child, name, 64);
    if (std::wcscmp(name, L"QuenmorNewsPanel") != 0)
        return TRUE;
    *reinterpret_cast<HWND*>(found) = child;
    return FALSE;
}

class MainWindowTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(::OleInitialize(nullptr)));
        previous_ = std::filesystem::current_path();
        testing_support::WriteFile(dir_ / "Quenmor.ini",
                                   "[main]\r\nNewsUrl=\r\nUpdatesUrl=http://127.0.0.1:9/\r\n"
                                   "LinkName=\r\nInstalled=1\r\n");
        std::filesystem::current_path(dir_.path());
    }
    void TearDown() override {
        std::filesystem::current_path(previous_);
        ::OleUninitialize();
    }

    testing_support::TempDir dir_;
    std::filesystem::path previous_;
};

} // namespace

TEST_F(MainWindowTest, AFailedRunWithoutNewsShowsThePlaceholderAndItsCause) {
    TFMain window;
    window.Create(::GetModuleHandleW(nullptr));
    window.FormCreate();
    ::SetWindowPos(window.Handle(), HWND_TOP, 40, 40, 0, 0, SWP_NOSIZE);
    ::ShowWindow(window.Handle(), SW_SHOWNORMAL);
    ::UpdateWindow(window.Handle());
    ASSERT_TRUE(HandleMessagesUntil(
        [&] { return window.StatusTooltip() != nullptr && !window.RunActive(); },
        std::chrono::seconds(20)));
    HandleMessagesUntil([] { return false; }, std::chrono::milliseconds(300)); // painted

    // The placeholder is the window's own painting: the news panel's window,
    // which would cover it, is hidden.
    EXPECT_EQ(window.NewsView(), TNewsView::Placeholder);
    HWND panel = nullptr;
    ::EnumChildWindows(window.Handle(), FindNewsPanel, reinterpret_cast<LPARAM>(&panel));
    if (panel != nullptr) {
        EXPECT_FALSE(::IsWindowVisible(panel));
    }
    RECT at{};
    ::GetWindowRect(window.Handle(), &at);
    HDC screen = ::GetDC(nullptr);
    const COLORREF corner = ::GetPixel(screen, at.left + 12, at.top + 102);
    const COLORREF opposite = ::GetPixel(screen, at.left + 788, at.top + 472);
    ::ReleaseDC(nullptr, screen);
    EXPECT_EQ(corner, opposite);
    EXPECT_NE(corner, RGB(255, 255, 255));
    EXPECT_LT(GetRValue(corner) + GetGValue(corner) + GetBValue(corner), 240) << std::hex << corner;

    // The tool tip of the status line, owned by the window.
    HWND tip = window.StatusTooltip();
    wchar_t kind[64] = {};
    ::GetClassNameW(tip, kind, 64);
    EXPECT_EQ(::_wcsicmp(kind, TOOLTIPS_CLASSW), 0);
    EXPECT_EQ(::GetWindow(tip, GW_OWNER), window.Handle());
    wchar_t text[2048] = {};
    TOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.hwnd = window.Handle();
    tool.uId = 1;
    tool.lpszText = text;
    ASSERT_TRUE(::SendMessageW(tip, TTM_GETTOOLINFOW, 0, reinterpret_cast<LPARAM>(&tool)));
    EXPECT_EQ(tool.rect.left, 128);
    EXPECT_EQ(tool.rect.top, 512);
    EXPECT_EQ(tool.rect.right, 128 + 429);
    EXPECT_EQ(tool.rect.bottom, 512 + 13);
    tool.lpszText = text;
    ::SendMessageW(tip, TTM_GETTEXTW, 2048, reinterpret_cast<LPARAM>(&tool));
    const std::string hint = platform::Utf8(text);
    EXPECT_EQ(hint.rfind("http://127.0.0.1:9/files.lst.bz2", 0), 0u) << hint;
    EXPECT_NE(hint.find("\n" + std::string(kLogFileLabel) + LauncherLogFile()), std::string::npos)
        << hint;
}
