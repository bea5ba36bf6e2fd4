// win32_screenshot: saves what the screen shows, or a rectangle of it, into a
// PNG file, for the window tests under Wine (whose screen is the X server's).
// Two pictures of the same pixels are the same file.
//
//   win32_screenshot OUTPUT.png [X Y WIDTH HEIGHT]
#include <windows.h>

#include <wincodec.h>

#include <cstdio>
#include <cwchar>

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

} // namespace

int wmain(int argc, wchar_t** argv) {
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
