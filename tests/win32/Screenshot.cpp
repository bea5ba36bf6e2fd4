// win32_screenshot: saves what the screen shows, or a rectangle of it, into a
// PNG file, for the window tests under Wine (whose screen is the X server's).
// Two pictures of the same pixels are the same file. For the tests' pixel
// checks it also prints the colour of one pixel of the screen (RRGGBB), or
// how many pixels of a rectangle have a colour (RRGGBB, or "infobk" for the
// system's colour of tool tips).
//
//   win32_screenshot OUTPUT.png [X Y WIDTH HEIGHT]
//   win32_screenshot --colour X Y
//   win32_screenshot --count COLOUR X Y WIDTH HEIGHT
#include <windows.h>

#include <wincodec.h>

#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <vector>

namespace {

// Releases a COM interface at the end of its scope.
template <class T> struct Held {
    T* p = nullptr;
    ~Held() {
        if (p != nullptr)
            p->Release();
    }
    T** operator&() { return &p; }
    T* operator->() const { return p; }
};

bool SavePng(const wchar_t* path, const void* pixels, int width, int height) {
    Held<IWICImagingFactory> factory;
    Held<IWICStream> stream;
    Held<IWICBitmapEncoder> encoder;
    Held<IWICBitmapFrameEncode> frame;
    WICPixelFormatGUID format = GUID_WICPixelFormat32bppBGR;
    const UINT stride = static_cast<UINT>(width) * 4;
    return SUCCEEDED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_PPV_ARGS(&factory))) &&
           SUCCEEDED(factory->CreateStream(&stream)) &&
           SUCCEEDED(stream->InitializeFromFilename(path, GENERIC_WRITE)) &&
           SUCCEEDED(factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder)) &&
           SUCCEEDED(encoder->Initialize(stream.p, WICBitmapEncoderNoCache)) &&
           SUCCEEDED(encoder->CreateNewFrame(&frame, nullptr)) &&
           SUCCEEDED(frame->Initialize(nullptr)) &&
           SUCCEEDED(frame->SetSize(static_cast<UINT>(width), static_cast<UINT>(height))) &&
           SUCCEEDED(frame->SetPixelFormat(&format)) && format == GUID_WICPixelFormat32bppBGR &&
           SUCCEEDED(frame->WritePixels(static_cast<UINT>(height), stride,
                                        stride * static_cast<UINT>(height),
                                        static_cast<BYTE*>(const_cast<void*>(pixels)))) &&
           SUCCEEDED(frame->Commit()) && SUCCEEDED(encoder->Commit());
}

// The screen's pixels of a rectangle, 0x00RRGGBB, top row first; empty when
// they cannot be read.
std::vector<std::uint32_t> ScreenPixels(int x, int y, int width, int height) {
    std::vector<std::uint32_t> pixels;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader = {sizeof info.bmiHeader, width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap != nullptr && memory != nullptr) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        if (BitBlt(memory, 0, 0, width, height, screen, x, y, SRCCOPY) != FALSE) {
            GdiFlush();
            const auto* from = static_cast<const std::uint32_t*>(bits);
            pixels.assign(from, from + static_cast<std::size_t>(width) *
                                           static_cast<std::size_t>(height));
            for (std::uint32_t& pixel : pixels)
                pixel &= 0x00FFFFFF;
        }
        SelectObject(memory, old);
    }
    if (bitmap != nullptr)
        DeleteObject(bitmap);
    if (memory != nullptr)
        DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return pixels;
}

int Number(const wchar_t* text) {
    return static_cast<int>(std::wcstol(text, nullptr, 10));
}

// The colour an argument names: RRGGBB, or "infobk", the tool tips' colour.
std::uint32_t Colour(const wchar_t* text) {
    if (std::wcscmp(text, L"infobk") != 0)
        return static_cast<std::uint32_t>(std::wcstoul(text, nullptr, 16));
    const COLORREF system = GetSysColor(COLOR_INFOBK);
    return (static_cast<std::uint32_t>(GetRValue(system)) << 16) |
           (static_cast<std::uint32_t>(GetGValue(system)) << 8) | GetBValue(system);
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    const bool colour = argc == 4 && std::wcscmp(argv[1], L"--colour") == 0;
    const bool count = argc == 7 && std::wcscmp(argv[1], L"--count") == 0;
    if (!colour && !count && argc != 2 && argc != 6) {
        std::fprintf(stderr, "usage: win32_screenshot OUTPUT.png [X Y WIDTH HEIGHT]\n"
                             "       win32_screenshot --colour X Y\n"
                             "       win32_screenshot --count COLOUR X Y WIDTH HEIGHT\n");
        return 2;
    }
    // Where the rectangle's numbers begin; the whole screen without them.
    const int first = colour ? 2 : count ? 3 : argc == 6 ? 2 : 0;
    const int x = first != 0 ? Number(argv[first]) : 0;
    const int y = first != 0 ? Number(argv[first + 1]) : 0;
    const int width = colour       ? 1
                      : first != 0 ? Number(argv[first + 2])
                                   : GetSystemMetrics(SM_CXSCREEN);
    const int height = colour       ? 1
                       : first != 0 ? Number(argv[first + 3])
                                    : GetSystemMetrics(SM_CYSCREEN);
    if (width <= 0 || height <= 0) {
        std::fprintf(stderr, "win32_screenshot: an empty rectangle\n");
        return 2;
    }
    const std::vector<std::uint32_t> pixels = ScreenPixels(x, y, width, height);
    if (colour && !pixels.empty()) {
        std::printf("%06X\n", static_cast<unsigned>(pixels[0]));
        return 0;
    }
    if (count && !pixels.empty()) {
        const std::uint32_t wanted = Colour(argv[2]);
        unsigned long long matching = 0;
        for (const std::uint32_t pixel : pixels)
            matching += pixel == wanted;
        std::printf("%llu\n", matching);
        return 0;
    }
    const bool saved = !pixels.empty() && !colour && !count &&
                       SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)) &&
                       SavePng(argv[1], pixels.data(), width, height);
    if (!saved) {
        std::fprintf(stderr, "win32_screenshot: the screen could not be read or saved\n");
        return 1;
    }
    return 0;
}
