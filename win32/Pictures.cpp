#include "Pictures.h"

#include <wincodec.h>

#include <algorithm>
#include <limits>

namespace {

// Holds one reference to a COM object and lets it go at the end.
template <typename T> class TCom {
public:
    TCom() = default;
    TCom(const TCom&) = delete;
    TCom& operator=(const TCom&) = delete;
    ~TCom() {
        if (p_)
            p_->Release();
    }

    T* operator->() const { return p_; }
    T* Get() const { return p_; }
    T** Out() { return &p_; }
    // For the functions that take the address as void**.
    void** OutVoid() { return reinterpret_cast<void**>(&p_); }

private:
    T* p_ = nullptr;
};

// Larger artwork is refused rather than allocated.
constexpr UINT MaxSide = 16384;

// The factory of the innermost batch of this thread, or null.
thread_local IWICImagingFactory* batchFactory = nullptr;
thread_local TPictureBatch* innermostBatch = nullptr;

bool MakeFactory(IWICImagingFactory** factory) {
    if (batchFactory) {
        batchFactory->AddRef();
        *factory = batchFactory;
        return true;
    }
    return SUCCEEDED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_IWICImagingFactory, reinterpret_cast<void**>(factory)));
}

} // namespace

TPictureBatch::TPictureBatch() : outer_(innermostBatch) {
    innermostBatch = this;
    if (!outer_) {
        IWICImagingFactory* factory = nullptr;
        if (MakeFactory(&factory))
            batchFactory = factory;
    }
}

TPictureBatch::~TPictureBatch() {
    innermostBatch = outer_;
    if (!outer_ && batchFactory) {
        batchFactory->Release();
        batchFactory = nullptr;
    }
}

struct TPicture::TBitmap {
    HBITMAP Bitmap = nullptr;
    const std::uint32_t* Pixels = nullptr; // the DIB section's own memory
    int Width = 0;
    int Height = 0;
    bool Opaque = true;

    TBitmap() = default;
    TBitmap(const TBitmap&) = delete;
    TBitmap& operator=(const TBitmap&) = delete;
    ~TBitmap() {
        if (Bitmap)
            DeleteObject(Bitmap);
    }
};

TPicture TPicture::FromResource(const wchar_t* name) {
    HMODULE program = GetModuleHandleW(nullptr);
    HRSRC found = FindResourceW(program, name, RT_RCDATA);
    if (!found)
        return {};
    HGLOBAL loaded = LoadResource(program, found);
    const void* data = loaded ? LockResource(loaded) : nullptr;
    if (!data)
        return {};
    return FromBytes(data, SizeofResource(program, found));
}

TPicture TPicture::FromBytes(const void* data, std::size_t size) {
    if (!data || size == 0 || size > std::numeric_limits<DWORD>::max())
        return {};
    TCom<IWICImagingFactory> factory;
    if (!MakeFactory(factory.Out()))
        return {};
    TCom<IWICStream> stream;
    if (FAILED(factory->CreateStream(stream.Out())))
        return {};
    // The stream only reads the bytes, whatever its signature says.
    BYTE* bytes = const_cast<BYTE*>(static_cast<const BYTE*>(data));
    if (FAILED(stream->InitializeFromMemory(bytes, static_cast<DWORD>(size))))
        return {};
    TCom<IWICBitmapDecoder> decoder;
    if (FAILED(factory->CreateDecoderFromStream(stream.Get(), nullptr,
                                                WICDecodeMetadataCacheOnDemand, decoder.Out())))
        return {};
    TCom<IWICBitmapFrameDecode> frame;
    if (FAILED(decoder->GetFrame(0, frame.Out())))
        return {};
    TCom<IWICFormatConverter> converter;
    if (FAILED(factory->CreateFormatConverter(converter.Out())))
        return {};
    if (FAILED(converter->Initialize(frame.Get(), GUID_WICPixelFormat32bppPBGRA,
                                     WICBitmapDitherTypeNone, nullptr, 0.0,
                                     WICBitmapPaletteTypeCustom)))
        return {};
    UINT width = 0, height = 0;
    if (FAILED(converter->GetSize(&width, &height)) || width == 0 || height == 0 ||
        width > MaxSide || height > MaxSide)
        return {};

    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = static_cast<LONG>(width);
    info.bmiHeader.biHeight = -static_cast<LONG>(height); // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    auto bitmap = std::make_shared<TBitmap>();
    bitmap->Bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!bitmap->Bitmap || !bits)
        return {};
    const UINT stride = width * 4;
    if (FAILED(converter->CopyPixels(nullptr, stride, stride * height, static_cast<BYTE*>(bits))))
        return {};
    bitmap->Pixels = static_cast<const std::uint32_t*>(bits);
    bitmap->Width = static_cast<int>(width);
    bitmap->Height = static_cast<int>(height);
    const std::size_t count = std::size_t{width} * height;
    bitmap->Opaque = std::all_of(bitmap->Pixels, bitmap->Pixels + count,
                                 [](std::uint32_t pixel) { return (pixel >> 24) == 0xFF; });
    TPicture picture;
    picture.bitmap_ = std::move(bitmap);
    return picture;
}

int TPicture::Width() const {
    return bitmap_ ? bitmap_->Width : 0;
}

int TPicture::Height() const {
    return bitmap_ ? bitmap_->Height : 0;
}

const std::uint32_t* TPicture::Pixels() const {
    return bitmap_ ? bitmap_->Pixels : nullptr;
}

bool TPicture::Opaque() const {
    return bitmap_ && bitmap_->Opaque;
}

HBITMAP TPicture::Bitmap() const {
    return bitmap_ ? bitmap_->Bitmap : nullptr;
}

void TPicture::Draw(HDC dc, int x, int y) const {
    DrawPart(dc, x, y, 0, 0, Width(), Height());
}

void TPicture::DrawPart(HDC dc, int x, int y, int sx, int sy, int w, int h) const {
    if (!bitmap_ || !dc)
        return;
    // Cut the part to the picture, moving its place on `dc` with its corner.
    if (sx < 0) {
        w += sx;
        x -= sx;
        sx = 0;
    }
    if (sy < 0) {
        h += sy;
        y -= sy;
        sy = 0;
    }
    w = std::min(w, bitmap_->Width - sx);
    h = std::min(h, bitmap_->Height - sy);
    if (w <= 0 || h <= 0)
        return;

    HDC source = CreateCompatibleDC(dc);
    if (!source)
        return;
    HGDIOBJ old = SelectObject(source, bitmap_->Bitmap);
    if (bitmap_->Opaque) {
        BitBlt(dc, x, y, w, h, source, sx, sy, SRCCOPY);
    } else {
        BLENDFUNCTION blend{};
        blend.BlendOp = AC_SRC_OVER;
        blend.SourceConstantAlpha = 0xFF;
        blend.AlphaFormat = AC_SRC_ALPHA;
        AlphaBlend(dc, x, y, w, h, source, sx, sy, w, h, blend);
    }
    SelectObject(source, old);
    DeleteDC(source);
}
