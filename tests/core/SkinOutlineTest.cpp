#include "SkinOutline.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

// '.' the key colour, 'k' the key colour with another high byte, '#' and 'r'
// colours one bit off it in blue and in red; rows `stride` pixels apart,
// padded with '#' that lies outside the skin.
std::vector<std::uint32_t> Pixels(const std::vector<std::string>& rows, std::size_t stride) {
    std::vector<std::uint32_t> pixels;
    for (const std::string& row : rows) {
        for (std::size_t x = 0; x < stride; ++x) {
            const char c = x < row.size() ? row[x] : '#';
            pixels.push_back(c == '.'   ? 0x00112233
                             : c == 'k' ? 0xFF112233
                             : c == 'r' ? 0x00102233
                                        : 0x00112232);
        }
    }
    return pixels;
}

std::vector<TOutlineRect> Outline(const std::vector<std::string>& rows, int stride) {
    const int width = static_cast<int>(rows[0].size());
    const auto pixels = Pixels(rows, static_cast<std::size_t>(stride));
    return SkinOutline(pixels.data(), width, static_cast<int>(rows.size()), stride);
}

} // namespace

TEST(SkinOutline, BandsOfRunsWithHolesMergingOnlyNeighbouringEqualRows) {
    const std::vector<std::string> skin = {
        ".k....", //
        "##.#r#", // two runs, to both edges
        "##.#r#", // the same: one band with the row above
        "#k.###", // 'k' is key: a hole
        "......", //
        "#....#", //
        "kkkkkk", //
        "#....#", // the runs of two rows up, but not next to them
    };
    const std::vector<TOutlineRect> expected = {
        {0, 1, 2, 3}, {3, 1, 6, 3}, {0, 3, 1, 4}, {3, 3, 6, 4},
        {0, 5, 1, 6}, {5, 5, 6, 6}, {0, 7, 1, 8}, {5, 7, 6, 8},
    };
    EXPECT_EQ(Outline(skin, 6), expected);
    EXPECT_EQ(Outline(skin, 9), expected); // the padding is no part of the skin
}

TEST(SkinOutline, NothingWithoutPixelsOffTheKey) {
    EXPECT_TRUE(Outline({"."}, 1).empty());
    EXPECT_TRUE(Outline({"k..k", ".kk."}, 4).empty());
    EXPECT_TRUE(Outline({"k..k", ".kk."}, 7).empty());
    EXPECT_TRUE(SkinOutline(nullptr, 0, 0, 0).empty());
    const std::uint32_t pixel = 0x00FFFFFF;
    EXPECT_TRUE(SkinOutline(&pixel, 0, 1, 1).empty());
    EXPECT_TRUE(SkinOutline(&pixel, 1, 0, 1).empty());
}
