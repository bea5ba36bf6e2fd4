#include "NewsPanel.h"

#include <algorithm>
#include <cstddef>

namespace {

// The colour of the gauges' captions (RGB 133, 157, 179), and a
// blue of the skin's night sky for a skin without pixels under the panel.
constexpr std::uint32_t kCaptionColour = 0x859DB3;
constexpr std::uint32_t kNightBlue = 0x0E1626;

} // namespace

TNewsView TNewsPanel::Requested(const std::string& address) {
    navigates_ = !address.empty();
    view_ = navigates_ ? TNewsView::Waiting : TNewsView::Placeholder;
    return view_;
}

TNewsView TNewsPanel::NoBrowser() {
    navigates_ = false;
    view_ = TNewsView::Placeholder;
    return view_;
}

TNewsView TNewsPanel::Finished(bool shown) {
    if (navigates_)
        view_ = shown ? TNewsView::Page : TNewsView::Placeholder;
    return view_;
}

TNewsView TNewsPanel::AnswerWaitPassed() {
    if (view_ == TNewsView::Waiting)
        view_ = TNewsView::Placeholder;
    return view_;
}

TPlaceholderColours PlaceholderColours(const std::uint32_t* pixels, int width, int height,
                                       int stride, int left, int top, int right, int bottom) {
    left = std::max(left, 0);
    top = std::max(top, 0);
    right = std::min(right, width);
    bottom = std::min(bottom, height);
    std::uint64_t sum[3] = {0, 0, 0};
    std::uint64_t count = 0;
    if (pixels != nullptr) {
        for (int y = top; y < bottom; ++y) {
            for (int x = left; x < right; ++x) {
                const std::uint32_t pixel =
                    pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(stride) +
                           static_cast<std::size_t>(x)];
                sum[0] += (pixel >> 16) & 0xFF;
                sum[1] += (pixel >> 8) & 0xFF;
                sum[2] += pixel & 0xFF;
                ++count;
            }
        }
    }
    if (count == 0)
        return {kNightBlue, kCaptionColour};
    // Two thirds of the mean: darker than the scene it stands for, never black.
    std::uint32_t back = 0;
    for (const std::uint64_t channel : sum)
        back = (back << 8) | static_cast<std::uint32_t>(channel / count * 2 / 3);
    return {back, kCaptionColour};
}
