// What the Win32 window's tests share: COM as the program has it on its
// window thread, and a hidden window for a picture button's owner.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

// COM initialised apartment-threaded for each test, as the program does.
class TComTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    }
    void TearDown() override { CoUninitialize(); }
};

// A hidden, borderless top-level window of a plain class, destroyed at the
// end.
class TTestWindow {
public:
    TTestWindow(int left, int top, int width, int height);
    ~TTestWindow();
    TTestWindow(const TTestWindow&) = delete;
    TTestWindow& operator=(const TTestWindow&) = delete;

    HWND Handle() const { return window_; }

private:
    HWND window_ = nullptr;
};

inline TTestWindow::TTestWindow(int left, int top, int width, int height) {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"QuenmorWin32Test";
    RegisterClassW(&windowClass); // fails harmlessly once registered
    window_ = CreateWindowExW(WS_EX_TOOLWINDOW, L"QuenmorWin32Test", L"", WS_POPUP, left, top,
                              width, height, nullptr, nullptr, windowClass.hInstance, nullptr);
}

inline TTestWindow::~TTestWindow() {
    if (window_)
        DestroyWindow(window_);
}
