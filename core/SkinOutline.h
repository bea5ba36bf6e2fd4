// The outline of a skinned window: the pixels of its skin picture that are
// not the key colour, as the banded rectangles window regions are made of.
#pragma once

#include <cstdint>
#include <vector>

// A rectangle of pixels, half-open as Win32's RECT and region data count
// them: columns Left to Right - 1, rows Top to Bottom - 1.
struct TOutlineRect {
    int Left = 0;
    int Top = 0;
    int Right = 0;
    int Bottom = 0;

    bool operator==(const TOutlineRect&) const = default;
};

// The pixels of a skin `width` by `height` pixels large, its rows `stride`
// pixels apart (at least `width`), each 0x00RRGGBB in its low 24 bits with
// the high byte ignored, whose colour differs from the key colour (the
// top-left pixel's, compared exactly). In y-x banded order: the rows cut
// into bands of equal height, each band's rectangles from left to right and
// none touching the next, neighbouring rows with the same runs of pixels in
// one band. A skin without pixels, or all in the key colour, gives none.
std::vector<TOutlineRect> SkinOutline(const std::uint32_t* pixels, int width, int height,
                                      int stride);
