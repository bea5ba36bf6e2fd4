// What the news panel shows as the browser reports, and the placeholder's
// colours from the skin's pixels under the panel.
#include "NewsPanel.h"

#include <gtest/gtest.h>

#include <vector>

TEST(NewsPanel, ThePlaceholderStandsWherePageCannotBeShownUntilOneIs) {
    TNewsPanel empty;
    EXPECT_EQ(empty.Requested(""), TNewsView::Placeholder);
    EXPECT_FALSE(empty.Navigates());
    EXPECT_EQ(empty.Finished(true), TNewsView::Placeholder); // not a page it asked for

    TNewsPanel news;
    EXPECT_EQ(news.Requested("http://127.0.0.1:9/news.html"), TNewsView::Waiting);
    EXPECT_EQ(news.AnswerWaitPassed(), TNewsView::Placeholder);
    EXPECT_EQ(news.Finished(true), TNewsView::Page); // a late answer
    EXPECT_EQ(news.AnswerWaitPassed(), TNewsView::Page);
    EXPECT_EQ(news.Finished(false), TNewsView::Placeholder); // a link that fails
    EXPECT_EQ(news.NoBrowser(), TNewsView::Placeholder);
    EXPECT_FALSE(news.Navigates());
}

TEST(NewsPanel, PlaceholderColoursComeFromTheSkinUnderThePanel) {
    // 4 x 3 pixels, rows 5 apart; the panel is the middle 2 x 2 of the lower
    // rows, white around it must not count, nor the high bytes.
    std::vector<std::uint32_t> skin(5 * 3, 0xFFFFFF);
    for (const std::size_t at : {6u, 11u, 12u})
        skin[at] = 0xFF306090;
    skin[7] = 0x00336393;
    // The mean (48, 96, 144) in whole numbers, then two thirds of it.
    EXPECT_EQ(PlaceholderColours(skin.data(), 4, 3, 5, 1, 1, 3, 3).Back, 0x204060u);
    const TPlaceholderColours outside = PlaceholderColours(skin.data(), 4, 3, 5, 9, 9, 20, 20);
    EXPECT_NE(outside.Back, 0xFFFFFFu);
    EXPECT_NE(outside.Back, 0u);
}
