#include "ImageButton.h"

#include <gtest/gtest.h>

#include <ostream>

void PrintTo(const TButtonStep& step, std::ostream* os) {
    *os << "{picture " << (step.Show ? static_cast<int>(*step.Show) : -1) << ", event "
        << (step.Raise ? static_cast<int>(*step.Raise) : -1) << "}";
}

namespace {

using enum TButtonPicture;
using enum TButtonEvent;
const TButtonStep Nothing{};

TButtonStep Step(TButtonPicture picture, TButtonEvent event) {
    return {picture, event};
}

TButtonStep Raises(TButtonEvent event) {
    return {std::nullopt, event};
}

} // namespace

TEST(ImageButton, PressMovedOffAndBackClicksOnReleaseOverTheButton) {
    TImageButton b;
    EXPECT_EQ(b.PointerEntered(), Step(Hover, Enter));
    EXPECT_EQ(b.PointerEntered(), Nothing); // told twice
    EXPECT_EQ(b.LeftPressed(), Step(TButtonPicture::Pressed, Down));
    EXPECT_EQ(b.PointerLeft(), Step(Normal, Leave));
    EXPECT_EQ(b.PointerLeft(), Nothing);
    EXPECT_EQ(b.PointerEntered(), Step(TButtonPicture::Pressed, Enter));
    EXPECT_TRUE(b.Pressed && b.MouseInside);
    EXPECT_TRUE(b.LeftReleased(true));
    EXPECT_EQ(b.ReleaseDone(), Step(Hover, Up));
    EXPECT_FALSE(b.Pressed);
}

TEST(ImageButton, ReleaseOffTheButtonOrWithoutItsPressDoesNotClick) {
    TImageButton b;
    b.PointerEntered();
    b.LeftPressed();
    b.PointerLeft();
    EXPECT_FALSE(b.LeftReleased(false));
    EXPECT_EQ(b.ReleaseDone(), Raises(Up));
    EXPECT_EQ(b.PointerLeft(), Nothing);               // the leave notice after the release
    EXPECT_EQ(b.PointerEntered(), Step(Hover, Enter)); // nothing left of the press
    EXPECT_FALSE(b.LeftReleased(true));                // pressed elsewhere, released here
    EXPECT_FALSE(b.ClickPending);
}

TEST(ImageButton, PressBeforeAnyEnterShowsPressedOnceEntered) {
    TImageButton b;
    EXPECT_EQ(b.LeftPressed(), Raises(Down));
    EXPECT_EQ(b.PointerEntered(), Step(TButtonPicture::Pressed, Enter));
    EXPECT_TRUE(b.LeftReleased(true));
    EXPECT_EQ(b.ReleaseDone(), Step(Hover, Up));
}

TEST(ImageButton, SecondPressOfADoubleClickNeitherPressesNorClicks) {
    TImageButton b;
    b.PointerEntered();
    b.LeftPressed();
    EXPECT_TRUE(b.LeftReleased(true));
    b.ReleaseDone();
    b.DoubleClickPressed();
    EXPECT_FALSE(b.Pressed);
    EXPECT_FALSE(b.LeftReleased(true));
    EXPECT_EQ(b.ReleaseDone(), Step(Hover, Up)); // its release is raised all the same
}

TEST(ImageButton, UnsupportedClicksAndFollowsThePointerButShowsAndRaisesNothing) {
    TImageButton b;
    b.Supported = false;
    EXPECT_EQ(b.PointerEntered(), Nothing);
    EXPECT_EQ(b.LeftPressed(), Nothing);
    EXPECT_EQ(b.PointerLeft(), Nothing);
    EXPECT_EQ(b.PointerEntered(), Nothing);
    EXPECT_TRUE(b.LeftReleased(true));
    EXPECT_EQ(b.ReleaseDone(), Nothing);
    EXPECT_FALSE(b.MouseInside || b.Pressed);
    EXPECT_TRUE(b.PointerInside);
    b.Supported = true;
    EXPECT_EQ(b.PointerEntered(), Nothing); // it knows the pointer is over it
    EXPECT_EQ(b.PointerLeft(), Step(Normal, Leave));
}
