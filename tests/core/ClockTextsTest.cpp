#include "ClockTexts.h"

#include <gtest/gtest.h>

TEST(ClockTexts, FormatFieldsAreRewrittenAndQuotedTextIsLeftAlone) {
    EXPECT_EQ(FourDigitYear("dd.MM.yy"), "dd.MM.yyyy");
    EXPECT_EQ(FourDigitYear("M/d/yyyy"), "M/d/yyyy");
    EXPECT_EQ(FourDigitYear("d 'yy' yy"), "d 'yy' yyyy");
    EXPECT_EQ(FourDigitYear("yyy"), "yyy"); // not the two-digit field
    EXPECT_EQ(FourDigitYear("d 'it''s' yy"), "d 'it''s' yyyy");
    EXPECT_EQ(FourDigitYear("'open"), "'open");

    EXPECT_EQ(WithoutField("HH:mm:ss t", 't'), "HH:mm:ss");
    EXPECT_EQ(WithoutField("h:mm:ss\xE2\x80\xAF"
                           "AP tttt",
                           't'),
              "h:mm:ss\xE2\x80\xAF"
              "AP");
    EXPECT_EQ(WithoutField("t HH:mm", 't'), "HH:mm");
    EXPECT_EQ(WithoutField("HH 'at' mm", 't'), "HH 'at' mm");
    EXPECT_EQ(WithoutField("  HH:mm\xC2\xA0", 'x'), "HH:mm");
}

TEST(ClockTexts, LinesAndTheNotice) {
    EXPECT_EQ(DateLine("07.12.2026"), "Дата: 07.12.2026 г.");
    EXPECT_EQ(TimeLine("9:05:03 AM"), "Время: 9:05:03 AM");
    EXPECT_EQ(ProjectSiteName(), "quenmor.example");
    EXPECT_EQ(NoticeText(2026), "2009-2026 © quenmor.example");
    EXPECT_EQ(NoticeText(999), "2009-0999 © quenmor.example");
}
