// What the Win32 window's tests share: COM as the program has it on its
// window thread, small BMP files, and a borderless window for the drag and
// for a picture button's owner.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

// COM initialised apartment-threaded for each test, as the program does.
class TComTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    }
    void TearDown() override { CoUninitialize(); }
};

// A 24-bit BMP file of `width` by `height` pixels, given top row first as
// 0x00RRGGBB.
inline std::vector<unsigned char> Bmp24(int width, int height,
                                        const std::vector<std::uint32_t>& pixels) {
    const int row = (width * 3 + 3) / 4 * 4;
    const auto size = static_cast<std::uint32_t>(54 + row * height);
    std::vector<unsigned char> file(size);
    auto put = [&](std::size_t at, std::uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i)
            file[at + static_cast<std::size_t>(i)] = static_cast<unsigned char>(value >> (8 * i));
    };
    put(0, 'B' | ('M' << 8), 2);
    put(2, size, 4);
    put(10, 54, 4);
    put(14, 40, 4);
    put(18, static_cast<std::uint32_t>(width), 4);
    put(22, static_cast<std::uint32_t>(height), 4); // bottom row first
    put(26, 1, 2);
    put(28, 24, 2);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const std::size_t at = static_cast<std::size_t>(54 + (height - 1 - y) * row + x * 3);
            put(at, pixels[static_cast<std::size_t>(y * width + x)], 3);
        }
    }
    return file;
}

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
