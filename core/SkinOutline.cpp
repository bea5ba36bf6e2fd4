#include "SkinOutline.h"

#include <cstddef>
#include <utility>

std::vector<TOutlineRect> SkinOutline(const std::uint32_t* pixels, int width, int height,
                                      int stride) {
    std::vector<TOutlineRect> rects;
    if (pixels == nullptr || width <= 0 || height <= 0 || stride < width)
        return rects;
    constexpr std::uint32_t rgbMask = 0x00FFFFFF;
    const std::uint32_t key = pixels[0] & rgbMask;

    std::vector<std::pair<int, int>> runs, bandRuns; // [first, end) columns
    std::size_t bandStart = 0;
    for (int y = 0; y < height; ++y) {
        const std::uint32_t* line = pixels + static_cast<std::ptrdiff_t>(y) * stride;
        runs.clear();
        int x = 0;
        while (x < width) {
            while (x < width && (line[x] & rgbMask) == key)
                ++x;
            if (x == width)
                break;
            const int first = x;
            while (x < width && (line[x] & rgbMask) != key)
                ++x;
            runs.emplace_back(first, x);
        }
        // The band of the rows above reaches this row whenever this row's
        // runs are its runs: a row with other runs starts a band of its own.
        if (!runs.empty() && runs == bandRuns) {
            for (std::size_t i = bandStart; i < rects.size(); ++i)
                rects[i].Bottom = y + 1;
            continue;
        }
        bandStart = rects.size();
        bandRuns = runs;
        for (const auto& [first, end] : runs)
            rects.push_back({first, y, end, y + 1});
    }
    return rects;
}
