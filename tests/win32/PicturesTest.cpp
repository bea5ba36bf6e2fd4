#include "Pictures.h"
#include "Win32TestSupport.h"

#include <cstdint>
#include <cstdlib>
#include <cwctype>
#include <string>
#include <vector>

namespace {

using TPicturesTest = TComTest;

// A 24-bit BMP file of 3 by 2 pixels, stored bottom row first, each row
// padded to 12 bytes: top row red, white, black; bottom row blue, green,
// grey.
std::vector<unsigned char> SmallBmp() {
    std::vector<unsigned char> file = {
        'B', 'M', 78, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, // file header
        40, 0, 0, 0, 3, 0, 0, 0, 2, 0, 0, 0, 1, 0, 24, 0, 0, 0, 0, 0, 24, 0, 0, 0,
        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, // info header
        0xFF, 0, 0, 0, 0xFF, 0, 0x80, 0x80, 0x80, 0, 0, 0, // bottom: B G R order
        0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0,    // top
    };
    return file;
}

// A 32-bit top-down DIB section to draw into, filled with `fill`.
struct TCanvas {
    HDC Dc = CreateCompatibleDC(nullptr);
    std::uint32_t* Pixels = nullptr;
    HBITMAP Bitmap = nullptr;
    HGDIOBJ Old = nullptr;
    int Width;

    TCanvas(int width, int height, std::uint32_t fill) : Width(width) {
        BITMAPINFO info{};
        info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
        void* bits = nullptr;
        Bitmap = CreateDIBSection(Dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        Pixels = static_cast<std::uint32_t*>(bits);
        std::fill(Pixels, Pixels + width * height, fill);
        Old = SelectObject(Dc, Bitmap);
    }
    ~TCanvas() {
        SelectObject(Dc, Old);
        DeleteObject(Bitmap);
        DeleteDC(Dc);
    }
    std::uint32_t At(int x, int y) {
        GdiFlush();
        return Pixels[y * Width + x] & 0x00FFFFFF;
    }
};

int Channel(std::uint32_t pixel, int shift) {
    return static_cast<int>((pixel >> shift) & 0xFF);
}

BOOL CALLBACK CollectName(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR names) {
    if (!IS_INTRESOURCE(name))
        reinterpret_cast<std::vector<std::wstring>*>(names)->push_back(name);
    return TRUE;
}

} // namespace

TEST_F(TPicturesTest, BmpIsOpaqueTopRowFirst) {
    const std::vector<unsigned char> file = SmallBmp();
    const TPicture picture = TPicture::FromBytes(file.data(), file.size());
    ASSERT_FALSE(picture.Empty());
    ASSERT_EQ(picture.Width(), 3);
    ASSERT_EQ(picture.Height(), 2);
    EXPECT_TRUE(picture.Opaque());
    const std::vector<std::uint32_t> pixels(picture.Pixels(), picture.Pixels() + 6);
    EXPECT_EQ(pixels, (std::vector<std::uint32_t>{0xFFFF0000, 0xFFFFFFFF, 0xFF000000,
                                                   0xFF0000FF, 0xFF00FF00, 0xFF808080}));

    // Drawn exactly, and only the part asked for, cut to the picture.
    TCanvas canvas(8, 8, 0x123456);
    picture.DrawPart(canvas.Dc, 2, 3, 1, -1, 5, 3);
    EXPECT_EQ(canvas.At(2, 3), 0x123456u); // the row above the picture
    EXPECT_EQ(canvas.At(2, 4), 0xFFFFFFu);
    EXPECT_EQ(canvas.At(3, 4), 0x000000u);
    EXPECT_EQ(canvas.At(3, 5), 0x808080u);
    EXPECT_EQ(canvas.At(4, 5), 0x123456u); // right of the picture
    EXPECT_EQ(canvas.At(2, 6), 0x123456u); // below it
}

TEST_F(TPicturesTest, PngAlphaPremultipliedAndBlended) {
    const TPicture close = TPicture::FromResource(L"close.png");
    ASSERT_EQ(close.Width(), 16);
    ASSERT_EQ(close.Height(), 16);
    EXPECT_FALSE(close.Opaque());
    // Pixel (2, 0) of the file is RGBA (149, 112, 62, 144).
    const std::uint32_t pixel = close.Pixels()[2];
    EXPECT_EQ(Channel(pixel, 24), 144);
    EXPECT_NEAR(Channel(pixel, 16), 149 * 144 / 255, 1);
    EXPECT_NEAR(Channel(pixel, 8), 112 * 144 / 255, 1);
    EXPECT_NEAR(Channel(pixel, 0), 62 * 144 / 255, 1);
    int clear = 0;
    for (int i = 0; i < 16 * 16; ++i) {
        const std::uint32_t p = close.Pixels()[i];
        for (int shift : {0, 8, 16})
            ASSERT_LE(Channel(p, shift), Channel(p, 24)) << i;
        clear += p == 0;
    }
    EXPECT_EQ(clear, 4);

    // Over white: the premultiplied colour plus white times (1 - alpha).
    TCanvas canvas(20, 20, 0xFFFFFF);
    close.Draw(canvas.Dc, 1, 1);
    const std::uint32_t drawn = canvas.At(3, 1);
    for (int shift : {0, 8, 16})
        EXPECT_NEAR(Channel(drawn, shift), Channel(pixel, shift) + 255 - 144, 2);
    EXPECT_EQ(canvas.At(0, 0), 0xFFFFFFu);
}

TEST_F(TPicturesTest, EveryArtworkResourceByItsFileName) {
    std::vector<std::wstring> names;
    EnumResourceNamesW(GetModuleHandleW(nullptr), RT_RCDATA, CollectName,
                       reinterpret_cast<LONG_PTR>(&names));
    EXPECT_EQ(names.size(), std::size_t{QUENMOR_ARTWORK_COUNT});
    for (std::wstring name : names) {
        for (wchar_t& c : name)
            c = static_cast<wchar_t>(std::towlower(c));
        const TPicture picture = TPicture::FromResource(name.c_str());
        EXPECT_FALSE(picture.Empty()) << std::string(name.begin(), name.end());
    }
    const TPicture skin = TPicture::FromResource(L"Main_Skin.BMP");
    EXPECT_EQ(skin.Width(), 800);
    EXPECT_EQ(skin.Height(), 599);
    EXPECT_TRUE(skin.Opaque());
    EXPECT_TRUE(TPicture::FromResource(L"missing.png").Empty());
}

TEST_F(TPicturesTest, EmptyWhenUndecodable) {
    const char junk[] = "\x89PNG\r\n\x1a\n not a picture";
    EXPECT_TRUE(TPicture::FromBytes(junk, sizeof junk).Empty());
    EXPECT_TRUE(TPicture::FromBytes(nullptr, 0).Empty());
    std::vector<unsigned char> cut = SmallBmp();
    cut.resize(30);
    const TPicture picture = TPicture::FromBytes(cut.data(), cut.size());
    EXPECT_TRUE(picture.Empty());
    EXPECT_EQ(picture.Pixels(), nullptr);
    TCanvas canvas(4, 4, 0x123456);
    picture.Draw(canvas.Dc, 0, 0);
    EXPECT_EQ(canvas.At(0, 0), 0x123456u);
}

TEST_F(TPicturesTest, CopiesShareTheBitmapTheLastFreesIt) {
    HBITMAP bitmap = nullptr;
    {
        TPicture copy;
        {
            const TPicture first = TPicture::FromResource(L"play_up.bmp");
            bitmap = first.Bitmap();
            ASSERT_EQ(GetObjectType(bitmap), static_cast<DWORD>(OBJ_BITMAP));
            copy = first;
            EXPECT_EQ(copy.Bitmap(), bitmap);
            EXPECT_EQ(copy.Pixels(), first.Pixels());
        }
        EXPECT_EQ(GetObjectType(bitmap), static_cast<DWORD>(OBJ_BITMAP));
        EXPECT_EQ(copy.Width(), 96);
    }
    EXPECT_EQ(GetObjectType(bitmap), 0u);
}
