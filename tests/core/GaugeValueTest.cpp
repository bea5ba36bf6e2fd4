#include "GaugeValue.h"

#include <gtest/gtest.h>

#include <limits>

TEST(GaugeValue, ClampsRoundsDownAndReportsOnlyWhatTheBarShows) {
    TGaugeValue gauge;
    EXPECT_EQ(gauge.MaxValue(), 100);
    EXPECT_FALSE(gauge.SetMaxValue(100));
    EXPECT_TRUE(gauge.SetMaxValue(1000));
    EXPECT_FALSE(gauge.SetProgress(9)); // still 0 %
    EXPECT_TRUE(gauge.SetProgress(19));
    EXPECT_EQ(gauge.PercentDone(), 1);
    EXPECT_EQ(gauge.FillWidth(430), 4);
    EXPECT_TRUE(gauge.SetProgress(5000));
    EXPECT_EQ(gauge.Progress(), 1000);
    EXPECT_TRUE(gauge.SetMaxValue(10)); // the progress follows it down
    EXPECT_EQ(gauge.Progress(), 10);
    EXPECT_THROW(gauge.SetMaxValue(-1), EGaugeError);
    EXPECT_EQ(gauge.MaxValue(), 10);
    gauge.SetMaxValue(0);
    EXPECT_EQ(gauge.PercentDone(), 0);
    gauge.SetMaxValue(std::numeric_limits<int>::max());
    gauge.SetProgress(std::numeric_limits<int>::max());
    EXPECT_EQ(gauge.FillWidth(430), 430); // no overflow on the way
}
