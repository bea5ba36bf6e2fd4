#include "ImgBtn.h"
#include "Win32TestSupport.h"

#include <memory>

namespace {

// A button at (50, 50)-(150, 80) of a shown owner window, with three
// pictures of one colour each.
class TImgBtnTest : public TComTest {
protected:
    void SetUp() override {
        TComTest::SetUp();
        ASSERT_NE(owner_.Handle(), nullptr);
        ShowWindow(owner_.Handle(), SW_SHOWNOACTIVATE);
        button_ = std::make_unique<TImgBtn>(owner_.Handle(), RECT{50, 50, 150, 80}, Solid(0x0000FF),
                                            Solid(0x00FF00), Solid(0xFF0000));
        button_->OnClick = [this] { ++clicks_; };
    }

    static TPicture Solid(std::uint32_t colour) {
        return BmpPicture(100, 30, std::vector<std::uint32_t>(3000, colour));
    }

    // The part of the owner waiting to be painted, as its bounding box,
    // then all of it painted.
    RECT Invalid() const {
        RECT rect{};
        GetUpdateRect(owner_.Handle(), &rect, FALSE);
        ValidateRect(owner_.Handle(), nullptr);
        return rect;
    }

    TTestWindow owner_{100, 100, 300, 200};
    std::unique_ptr<TImgBtn> button_;
    int clicks_ = 0;
};

constexpr POINT Inside{60, 60};
constexpr POINT Outside{10, 10};

bool operator==(const RECT& a, const RECT& b) {
    return EqualRect(&a, &b) != FALSE;
}

} // namespace

TEST_F(TImgBtnTest, PressAndReleaseInsideClicksOnce) {
    TImgBtn& b = *button_;
    Invalid();
    EXPECT_FALSE(b.MouseMove(Inside));
    EXPECT_EQ(b.Shown(), TButtonPicture::Hover);
    const RECT bounds{50, 50, 150, 80}, none{};
    EXPECT_TRUE(Invalid() == bounds); // only its own rectangle
    b.MouseMove({70, 70});
    EXPECT_TRUE(Invalid() == none); // no new picture, nothing to paint

    EXPECT_TRUE(b.LeftDown(Inside));
    EXPECT_EQ(b.Shown(), TButtonPicture::Pressed);
    EXPECT_EQ(GetCapture(), owner_.Handle());
    // While pressed the moves are the button's; off it, the normal picture.
    EXPECT_TRUE(b.MouseMove(Outside));
    EXPECT_EQ(b.Shown(), TButtonPicture::Normal);
    b.MouseLeave(); // the capture keeps the press
    EXPECT_TRUE(b.Holding());
    EXPECT_TRUE(b.MouseMove(Inside));
    EXPECT_EQ(b.Shown(), TButtonPicture::Pressed);
    EXPECT_TRUE(b.LeftUp(Inside));
    EXPECT_EQ(clicks_, 1);
    EXPECT_EQ(b.Shown(), TButtonPicture::Hover);
    EXPECT_EQ(GetCapture(), nullptr);
    EXPECT_FALSE(b.LeftUp(Inside)); // no press held: not the button's
    // The second press of a double click: held, no pressed picture, and
    // no click from its release.
    EXPECT_TRUE(b.LeftDoubleClick(Inside));
    EXPECT_EQ(b.Shown(), TButtonPicture::Hover);
    EXPECT_EQ(GetCapture(), owner_.Handle());
    EXPECT_TRUE(b.LeftUp(Inside));
    EXPECT_EQ(clicks_, 1);
    b.MouseLeave();
    EXPECT_EQ(b.Shown(), TButtonPicture::Normal);
}

TEST_F(TImgBtnTest, ReleaseOffTheButtonOrCaptureLostDoesNotClick) {
    TImgBtn& b = *button_;
    EXPECT_FALSE(b.LeftDown(Outside));
    EXPECT_TRUE(b.LeftDown(Inside)); // no move came before: it hovers now
    EXPECT_EQ(b.Shown(), TButtonPicture::Pressed);
    b.MouseMove(Outside);
    EXPECT_TRUE(b.LeftUp(Outside));
    EXPECT_EQ(b.Shown(), TButtonPicture::Normal);
    EXPECT_EQ(GetCapture(), nullptr);

    EXPECT_TRUE(b.LeftDown(Inside));
    b.CaptureLost();
    EXPECT_FALSE(b.Holding());
    EXPECT_EQ(b.Shown(), TButtonPicture::Hover);
    EXPECT_FALSE(b.LeftUp(Inside));
    EXPECT_EQ(clicks_, 0);
}

TEST_F(TImgBtnTest, DisabledLightsUpButTakesNoPress) {
    TImgBtn& b = *button_;
    b.SetEnabled(false);
    b.MouseMove(Inside);
    EXPECT_EQ(b.Shown(), TButtonPicture::Hover);
    // The presses are the owner's, for a window drag.
    EXPECT_FALSE(b.LeftDown(Inside));
    EXPECT_FALSE(b.LeftDoubleClick(Inside));
    EXPECT_FALSE(b.OtherDown(Inside));
    EXPECT_EQ(GetCapture(), nullptr);
    EXPECT_FALSE(b.LeftUp(Inside));

    // Disabled while pressed: the press ends without a click.
    b.SetEnabled(true);
    EXPECT_TRUE(b.OtherDown(Inside));
    ASSERT_TRUE(b.LeftDown(Inside));
    b.SetEnabled(false);
    EXPECT_EQ(b.Shown(), TButtonPicture::Hover);
    EXPECT_EQ(GetCapture(), nullptr);
    EXPECT_FALSE(b.LeftUp(Inside));
    EXPECT_EQ(clicks_, 0);
}

TEST_F(TImgBtnTest, HiddenDrawsAndTakesNothing) {
    TImgBtn& b = *button_;
    TCanvas canvas(200, 100, 0);
    auto at = [&](int x, int y) { return canvas.At(x, y); };
    HDC dc = canvas.Dc();
    b.MouseMove(Inside);
    b.Paint(dc);
    EXPECT_EQ(at(50, 50), 0x00FF00u); // the hover picture in its place
    EXPECT_EQ(at(149, 79), 0x00FF00u);
    EXPECT_EQ(at(150, 79) | at(49, 50), 0u);

    b.SetVisible(false);
    EXPECT_EQ(b.Shown(), TButtonPicture::Normal);
    EXPECT_FALSE(b.MouseMove(Inside) || b.LeftDown(Inside) || b.OtherDown(Inside));
    EXPECT_EQ(b.Shown(), TButtonPicture::Normal);
    PatBlt(dc, 0, 0, 200, 100, BLACKNESS);
    b.Paint(dc);
    EXPECT_EQ(at(60, 60), 0u);
    b.SetVisible(true);
    b.Paint(dc);
    EXPECT_EQ(at(60, 60), 0x0000FFu); // normal until the pointer moves
}

TEST_F(TImgBtnTest, ClickHandlerMayDestroyTheButton) {
    button_->OnClick = [this] {
        ++clicks_;
        button_.reset();
    };
    ASSERT_TRUE(button_->LeftDown(Inside));
    EXPECT_TRUE(button_->LeftUp(Inside));
    EXPECT_EQ(clicks_, 1);
    EXPECT_EQ(button_, nullptr);
    EXPECT_EQ(GetCapture(), nullptr);
}

TEST_F(TImgBtnTest, ListRoutesToTheButtonUnderThePointerOrHoldingThePress) {
    TImgBtns buttons;
    const TPicture pic = Solid(1);
    TImgBtn& a = buttons.Add(owner_.Handle(), {0, 0, 40, 40}, pic, pic, pic);
    TImgBtn& b = buttons.Add(owner_.Handle(), {30, 0, 70, 40}, pic, pic, pic); // above a
    a.OnClick = [this] { ++clicks_; };

    buttons.MouseMove({10, 10});
    EXPECT_EQ(a.Shown(), TButtonPicture::Hover);
    buttons.MouseMove({35, 10}); // both: the topmost only
    EXPECT_EQ(a.Shown(), TButtonPicture::Normal);
    EXPECT_EQ(b.Shown(), TButtonPicture::Hover);
    EXPECT_TRUE(buttons.LeftDown({35, 10}));
    EXPECT_TRUE(buttons.MouseMove({10, 10})); // b holds the press
    EXPECT_EQ(a.Shown(), TButtonPicture::Normal);
    EXPECT_TRUE(buttons.LeftUp({10, 10})); // b's, off b: no click
    EXPECT_FALSE(buttons.MouseMove({10, 10}));
    EXPECT_EQ(a.Shown(), TButtonPicture::Hover);
    EXPECT_TRUE(buttons.LeftDown({10, 10}) && buttons.LeftUp({10, 10}));
    EXPECT_EQ(clicks_, 1);
    EXPECT_FALSE(buttons.LeftDown({100, 100}));
}
