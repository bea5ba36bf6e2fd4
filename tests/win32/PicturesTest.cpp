#include "Pictures.h"
#include "Win32TestSupport.h"

#include <cstdint>
#include <cwctype>
#include <string>
#include <vector>

namespace {

using TPicturesTest = TComTest;

// Top row red, white, black; bottom row blue, green, grey (rows padded).
const std::vector<unsigned char> SmallBmp =
    Bmp24(3, 2, {0xFF0000, 0xFFFFFF, 0x000000, 0x0000FF, 0x00FF00, 0x808080});

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
    const TPicture picture = TPicture::FromBytes(SmallBmp.data(), SmallBmp.size());
    ASSERT_FALSE(picture.Empty());
    ASSERT_EQ(picture.Width(), 3);
    ASSERT_EQ(picture.Height(), 2);
    EXPECT_TRUE(picture.Opaque());
    const std::vector<std::uint32_t> pixels(picture.Pixels(), picture.Pixels() + 6);
    EXPECT_EQ(pixels, (std::vector<std::uint32_t>{0xFFFF0000, 0xFFFFFFFF, 0xFF000000, 0xFF0000FF,
                                                  0xFF00FF00, 0xFF808080}));

    // Drawn exactly, and only the part asked for, cut to the picture.
    TCanvas canvas(8, 8, 0x123456);
    picture.DrawPart(canvas.Dc(), 2, 3, 1, -1, 5, 3);
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
    close.Draw(canvas.Dc(), 1, 1);
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
    EXPECT_EQ(TPicture::FromResource(L"Main_Skin.BMP").Width(), 800);
}

TEST_F(TPicturesTest, EmptyWhenMissingOrUndecodable) {
    EXPECT_TRUE(TPicture::FromResource(L"missing.png").Empty());
    const char junk[] = "\x89PNG\r\n\x1a\n not a picture";
    EXPECT_TRUE(TPicture::FromBytes(junk, sizeof junk).Empty());
    const TPicture cut = TPicture::FromBytes(SmallBmp.data(), 30);
    EXPECT_TRUE(cut.Empty());
    EXPECT_EQ(cut.Pixels(), nullptr);
    EXPECT_EQ(cut.Width(), 0);
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
        }
        EXPECT_EQ(GetObjectType(bitmap), static_cast<DWORD>(OBJ_BITMAP));
    }
    EXPECT_EQ(GetObjectType(bitmap), 0u);
}

TEST_F(TPicturesTest, ABatchSharesItsFactoryAndDecodesTheSame) {
    const TPicture alone = TPicture::FromResource(L"close.png");
    TPicture inner;
    {
        const TPictureBatch batch;
        const TPicture batched = TPicture::FromResource(L"close.png");
        {
            const TPictureBatch nested; // the outer batch's factory stays
            inner = TPicture::FromResource(L"close.png");
        }
        ASSERT_FALSE(batched.Empty());
        ASSERT_EQ(batched.Width(), alone.Width());
        ASSERT_EQ(batched.Height(), alone.Height());
        EXPECT_TRUE(std::equal(batched.Pixels(),
                               batched.Pixels() + batched.Width() * batched.Height(),
                               alone.Pixels()));
    }
    EXPECT_FALSE(inner.Empty());
    EXPECT_FALSE(TPicture::FromResource(L"close.png").Empty()); // after the batch, on its own again
}
