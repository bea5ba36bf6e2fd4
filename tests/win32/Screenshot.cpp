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
            pixels.assign(from, from + static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
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

// --colour X Y and --count COLOUR X Y WIDTH HEIGHT.
int Measure(int argc, wchar_t** argv) {
    const bool count = std::wcscmp(argv[1], L"--count") == 0;
    if (count ? argc != 7 : argc != 4) {
        std::fprintf(stderr, "usage: win32_screenshot --colour X Y | --count COLOUR X Y W H\n");
        return 2;
    }
    const int first = count ? 3 : 2;
    const int width = count ? Number(argv[5]) : 1;
    const int height = count ? Number(argv[6]) : 1;
    if (width <= 0 || height <= 0) {
        std::fprintf(stderr, "win32_screenshot: an empty rectangle\n");
        return 2;
    }
    const std::vector<std::uint32_t> pixels =
        ScreenPixels(Number(argv[first]), Number(argv[first + 1]), width, height);
    if (pixels.empty()) {
        std::fprintf(stderr, "win32_screenshot: the screen cannot be read\n");
        return 1;
    }
    if (!count) {
        std::printf("%06X\n", static_cast<unsigned>(pixels[0]));
        return 0;
    }
    std::uint32_t colour = 0;
    if (std::wcscmp(argv[2], L"infobk") == 0) {
        const COLORREF system = GetSysColor(COLOR_INFOBK);
        colour = (static_cast<std::uint32_t>(GetRValue(system)) << 16) |
                 (static_cast<std::uint32_t>(GetGValue(system)) << 8) | GetBValue(system);
    } else {
        colour = static_cast<std::uint32_t>(std::wcstoul(argv[2], nullptr, 16));
    }
    std::size_t matching = 0;
    for (const std::uint32_t pixel : pixels)
        matching += pixel == colour;
    std::printf("%llu\n", static_cast<unsigned long long>(matching));
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc >= 2 && (std::wcscmp(argv[1], L"--colour") == 0 || std::wcscmp(argv[1], L"--count") == 0))
        return Measure(argc, argv);
    if (argc != 2 && argc != 6) {
        std::fprintf(stderr, "usage: win32_screenshot OUTPUT.png [X Y WIDTH HEIGHT]\n");
        return 2;
    }
    int x = 0, y = 0;
    int width = GetSystemMetrics(SM_CXSCREEN), height = GetSystemMetrics(SM_CYSCREEN);
    if (argc == 6) {
        x = static_cast<int>(std::wcstol(argv[2], nullptr, 10));
        y = static_cast<int>(std::wcstol(argv[3], nullptr, 10));
        width = static_cast<int>(std::wcstol(argv[4], nullptr, 10));
        height = static_cast<int>(std::wcstol(argv[5], nullptr, 10));
    }
    if (width <= 0 || height <= 0) {
        std::fprintf(stderr, "win32_screenshot: an empty rectangle\n");
        return 2;
    }
    HDC screen = GetDC(nullptr);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height; // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* pixels = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &pixels, nullptr, 0);
    HDC memory = CreateCompatibleDC(screen);
    bool saved = false;
    if (bitmap != nullptr && memory != nullptr) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        const bool copied = BitBlt(memory, 0, 0, width, height, screen, x, y, SRCCOPY) != FALSE;
        GdiFlush();
        saved = copied && SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)) &&
                SavePng(argv[1], pixels, width, height);
        SelectObject(memory, old);
    }
    if (memory != nullptr)
        DeleteDC(memory);
    if (bitmap != nullptr)
        DeleteObject(bitmap);
    ReleaseDC(nullptr, screen);
    if (!saved) {
        std::fprintf(stderr, "win32_screenshot: could not save %ls\n", argv[1]);
        return 1;
    }
    return 0;
}
