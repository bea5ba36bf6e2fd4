// What the news panel shows: the news page, or, where the news cannot be
// shown (no address, an error page, no answer in time, no browser control),
// a quiet placeholder in the skin's own colours instead of the browser's
// white. The windows report what their browser did and draw what this says.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

enum class TNewsView {
    Waiting,     // asked for, no answer yet: the panel stays as it was
    Page,        // the browser shows the page
    Placeholder, // the news cannot be shown
};

class TNewsPanel {
public:
    // How long the news may take to answer before the placeholder shows; a
    // page that arrives later still replaces it.
    static constexpr std::chrono::milliseconds kAnswerWait{8000};

    // The news are asked for at `address`: without one there is nothing to
    // show (and nothing to ask the browser for), else the answer is awaited.
    TNewsView Requested(const std::string& address);
    // The window has no browser control.
    TNewsView NoBrowser();
    // The browser has finished a navigation of its top frame: the page shown,
    // or not (no connection, an error page, the page's process gone).
    TNewsView Finished(bool shown);
    // kAnswerWait has passed since the request.
    TNewsView AnswerWaitPassed();

    TNewsView View() const { return view_; }
    // Whether the browser should be asked for the page.
    bool Navigates() const { return navigates_; }

private:
    TNewsView view_ = TNewsView::Waiting;
    bool navigates_ = false;
};

// The placeholder's colours, taken from the skin's pixels under the panel:
// their mean as its background, darkened, so that it lies quietly among
// them; its text in the colour of the gauges' captions.
struct TPlaceholderColours {
    std::uint32_t Back = 0; // 0x00RRGGBB
    std::uint32_t Text = 0; // 0x00RRGGBB
};
// `pixels` as SkinOutline takes them (0x00RRGGBB in the low 24 bits, rows
// `stride` pixels apart); the rectangle is cut to the picture. Without
// pixels there the background is the skin's darkest blue.
TPlaceholderColours PlaceholderColours(const std::uint32_t* pixels, int width, int height,
                                       int stride, int left, int top, int right, int bottom);
