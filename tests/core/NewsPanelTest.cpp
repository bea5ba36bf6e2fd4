// What the news panel shows as the browser reports, and the placeholder's
// colours from the skin's pixels.
#include "NewsPanel.h"

#include <gtest/gtest.h>

#include <vector>

TEST(NewsPanel, ThePlaceholderStandsWhereverThePageCannotBeShown) {
    TNewsPanel empty;
    EXPECT_EQ(empty.Requested(""), TNewsView::Placeholder);
    EXPECT_FALSE(empty.Navigates());
    EXPECT_EQ(empty.Finished(true), TNewsView::Placeholder); // a page it never asked for

    TNewsPanel failing;
    EXPECT_EQ(failing.Requested("http://127.0.0.1:9/news.html"), TNewsView::Waiting);
    EXPECT_TRUE(failing.Navigates());
    EXPECT_EQ(failing.Finished(false), TNewsView::Placeholder);
    // A link of the news that loads later shows again.
    EXPECT_EQ(failing.Finished(true), TNewsView::Page);
    EXPECT_EQ(failing.AnswerWaitPassed(), TNewsView::Page);

    TNewsPanel silent;
    silent.Requested("http://127.0.0.1:9/news.html");
    EXPECT_EQ(silent.AnswerWaitPassed(), TNewsView::Placeholder);
    EXPECT_EQ(silent.Finished(true), TNewsView::Page); // the late answer replaces it

    TNewsPanel none;
    none.Requested("http://127.0.0.1:9/news.html");
    EXPECT_EQ(none.NoBrowser(), TNewsView::Placeholder);
    EXPECT_FALSE(none.Navigates());
}

TEST(NewsPanel, PlaceholderColoursComeFromTheSkinUnderThePanel) {
    // A 4 x 3 skin: the panel is the middle 2 x 2 of the lower rows; around
    // it, white that must not count. Rows 5 pixels apart.
    std::vector<std::uint32_t> skin(5 * 3, 0xFFFFFF);
    for (const int at : {6, 7, 11, 12})
        skin[static_cast<std::size_t>(at)] = 0xFF306090; // high byte ignored
    skin[7] = 0x00336393;
    const TPlaceholderColours colours = PlaceholderColours(skin.data(), 4, 3, 5, 1, 1, 3, 3);
    // The mean (48.75, 96.75, 144.75) in whole numbers, then two thirds of it.
    EXPECT_EQ(colours.Back, (32u << 16) | (64u << 8) | 96u);
    EXPECT_EQ(colours.Text, 0x859DB3u);

    // A panel outside the picture: the fallback blue, never white or black.
    const TPlaceholderColours outside = PlaceholderColours(skin.data(), 4, 3, 5, 10, 10, 20, 20);
    EXPECT_NE(outside.Back, 0xFFFFFFu);
    EXPECT_NE(outside.Back, 0u);
    EXPECT_EQ(PlaceholderColours(nullptr, 0, 0, 0, 0, 0, 5, 5).Back, outside.Back);
}
