// The main window with no news address and an update server out of reach,
// through its windows: the news panel's own window hidden for the painted
// placeholder, and the status line's tool tip over the line with the failed
// run's cause and the log's path. (window_explains.sh checks the pixels.)
#include "MainWindow.h"
#include "LauncherLog.h"
#include "Messages.h"
#include "TestSupport.h"
#include "WideText.h"

#include <commctrl.h>
#include <ole2.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cwchar>
#include <filesystem>

TEST(MainWindow, AFailedRunWithoutNewsShowsThePlaceholderAndItsCause) {
    ASSERT_TRUE(SUCCEEDED(::OleInitialize(nullptr)));
    testing_support::TempDir dir;
    testing_support::WriteFile(dir / "Quenmor.ini", "[main]\r\nNewsUrl=\r\nUpdatesUrl=http://"
                                                    "127.0.0.1:9/\r\nLinkName=\r\nInstalled=1\r\n");
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    {
        TFMain window;
        window.Create(::GetModuleHandleW(nullptr));
        window.FormCreate();
        ::ShowWindow(window.Handle(), SW_SHOWNORMAL);
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        for (int i = 0; i < 10000 && std::chrono::steady_clock::now() < until &&
                        (window.StatusTooltip() == nullptr || window.RunActive());
             ++i) {
            MSG message;
            while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
                ::DispatchMessageW(&message);
            ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        }
        ASSERT_NE(window.StatusTooltip(), nullptr);
        EXPECT_EQ(window.NewsView(), TNewsView::Placeholder);
        const HWND panel = ::FindWindowExW(window.Handle(), nullptr, L"QuenmorNewsPanel", nullptr);
        EXPECT_TRUE(panel == nullptr || !::IsWindowVisible(panel));

        const HWND tip = window.StatusTooltip();
        wchar_t kind[64] = {}, text[2048] = {};
        ::GetClassNameW(tip, kind, 64);
        EXPECT_EQ(::_wcsicmp(kind, TOOLTIPS_CLASSW), 0);
        EXPECT_EQ(::GetWindow(tip, GW_OWNER), window.Handle());
        TOOLINFOW tool{};
        tool.cbSize = sizeof tool;
        tool.hwnd = window.Handle();
        tool.uId = 1;
        tool.lpszText = text;
        ASSERT_TRUE(::SendMessageW(tip, TTM_GETTOOLINFOW, 0, reinterpret_cast<LPARAM>(&tool)));
        const RECT line{128, 512, 128 + 429, 512 + 13};
        EXPECT_TRUE(::EqualRect(&tool.rect, &line));
        ::SendMessageW(tip, TTM_GETTEXTW, 2048, reinterpret_cast<LPARAM>(&tool));
        const std::string hint = platform::Utf8(text);
        EXPECT_EQ(hint.rfind("http://127.0.0.1:9/files.lst.bz2", 0), 0u) << hint;
        EXPECT_EQ(hint.substr(hint.find('\n') + 1), kLogFileLabel + LauncherLogFile()) << hint;
    }
    std::filesystem::current_path(previous);
    ::OleUninitialize();
}
