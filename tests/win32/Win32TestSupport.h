// What the Win32 window's tests share: COM as the program has it on its
// window thread, small BMP files, and a borderless window for the drag and
// for a picture button's owner.
#pragma once

#include "Pictures.h"

#include <objbase.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
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
    const auto row = static_cast<std::size_t>((width * 3 + 3) / 4 * 4);
    const std::size_t size = 54 + row * static_cast<std::size_t>(height);
    const BITMAPFILEHEADER file{0x4D42, static_cast<DWORD>(size), 0, 0, 54};
    const BITMAPINFOHEADER info{40, width, height, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    std::vector<unsigned char> out(size);
    std::memcpy(out.data(), &file, sizeof file);
    std::memcpy(out.data() + sizeof file, &info, sizeof info);
    for (std::size_t y = 0; y < static_cast<std::size_t>(height); ++y) // bottom row first
        for (std::size_t x = 0; x < static_cast<std::size_t>(width); ++x)
            std::memcpy(&out[54 + (static_cast<std::size_t>(height) - 1 - y) * row + x * 3],
                        &pixels[y * static_cast<std::size_t>(width) + x], 3);
    return out;
}

inline TPicture BmpPicture(int width, int height, const std::vector<std::uint32_t>& pixels) {
    const std::vector<unsigned char> file = Bmp24(width, height, pixels);
    return TPicture::FromBytes(file.data(), file.size());
}

// A 32-bit top-down DIB section to draw into, filled with `fill`.
class TCanvas {
public:
    TCanvas(int width, int height, std::uint32_t fill) : width_(width) {
        BITMAPINFO info{};
        info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
        void* bits = nullptr;
        bitmap_ = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        pixels_ = static_cast<std::uint32_t*>(bits);
        std::fill(pixels_, pixels_ + width * height, fill);
        old_ = SelectObject(dc_, bitmap_);
    }
    ~TCanvas() {
        SelectObject(dc_, old_);
        DeleteObject(bitmap_);
        DeleteDC(dc_);
    }
    TCanvas(const TCanvas&) = delete;
    TCanvas& operator=(const TCanvas&) = delete;

    HDC Dc() const { return dc_; }
    // The colour at (x, y), 0x00RRGGBB.
    std::uint32_t At(int x, int y) const {
        GdiFlush();
        return pixels_[y * width_ + x] & 0x00FFFFFF;
    }

private:
    HDC dc_ = CreateCompatibleDC(nullptr);
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ old_ = nullptr;
    std::uint32_t* pixels_ = nullptr;
    int width_;
};

// A hidden, borderless top-level window of a plain class.
class TTestWindow {
public:
    TTestWindow(int left, int top, int width, int height) {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = DefWindowProcW;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"QuenmorWin32Test";
        RegisterClassW(&windowClass); // fails harmlessly once registered
        window_ =
            CreateWindowExW(WS_EX_TOOLWINDOW, windowClass.lpszClassName, L"", WS_POPUP, left, top,
                            width, height, nullptr, nullptr, windowClass.hInstance, nullptr);
    }
    ~TTestWindow() { DestroyWindow(window_); }
    TTestWindow(const TTestWindow&) = delete;
    TTestWindow& operator=(const TTestWindow&) = delete;

    HWND Handle() const { return window_; }

private:
    HWND window_ = nullptr;
};
