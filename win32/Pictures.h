// The window's pictures: PNG (with its alpha) and BMP artwork decoded into
// device-independent bitmaps that GDI draws, from the program's resources or
// from bytes. Decoding goes through the Windows Imaging Component, the
// system's own decoder, rather than libpng: no other library to build for
// Windows and a smaller program.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <memory>

// While an object of this class lives, the pictures decoded on its thread
// share one imaging factory: the factory's making is most of the cost of a
// small picture's decode, and the window decodes some twenty of them before
// it is first shown. Made and ended on the decoding thread, within its COM
// initialisation.
class TPictureBatch {
public:
    TPictureBatch();
    ~TPictureBatch();
    TPictureBatch(const TPictureBatch&) = delete;
    TPictureBatch& operator=(const TPictureBatch&) = delete;

private:
    TPictureBatch* outer_;
};

// One picture, shared: copies share its bitmap, the last one frees it. An
// empty picture (missing or undecodable artwork) has no pixels and draws
// nothing. Decoding needs COM initialised on the calling thread (the
// program's window thread, apartment-threaded).
class TPicture {
public:
    TPicture() = default;

    // The program's RCDATA resource `name` (the artwork's file name, e.g.
    // L"play_up.bmp"; resource names compare without regard to case).
    static TPicture FromResource(const wchar_t* name);
    // A PNG or BMP file's bytes.
    static TPicture FromBytes(const void* data, std::size_t size);

    bool Empty() const { return !bitmap_; }
    int Width() const;
    int Height() const;
    // Width() * Height() pixels, top row first, each 0xAARRGGBB with the
    // colour premultiplied by its alpha (opaque pictures have 0xFF); null for
    // an empty picture.
    const std::uint32_t* Pixels() const;
    // Whether every pixel is opaque.
    bool Opaque() const;
    // The bitmap, a 32-bit top-down DIB section; null for an empty picture.
    HBITMAP Bitmap() const;

    // Draws the picture unscaled with its top-left corner at (x, y), blended
    // over what `dc` holds by each pixel's alpha.
    void Draw(HDC dc, int x, int y) const;
    // Draws the part (sx, sy, w, h) of the picture at (x, y), the part cut
    // to the picture.
    void DrawPart(HDC dc, int x, int y, int sx, int sy, int w, int h) const;

private:
    struct TBitmap;
    std::shared_ptr<const TBitmap> bitmap_;
};
