#include "WindowDrag.h"

#include <gtest/gtest.h>

TEST(WindowDrag, MovesThePressPointBackUnderThePointerWhileHeld) {
    TWindowDrag drag;
    EXPECT_EQ(drag.MouseMove(100, 100, 50, 60), std::nullopt);
    drag.MouseDown(7, 9);
    EXPECT_TRUE(drag.Dragging);
    EXPECT_EQ(drag.MouseMove(7, 9, 50, 60), (TWindowPos{50, 60})); // no threshold
    EXPECT_EQ(drag.MouseMove(8, 19, 50, 60), (TWindowPos{51, 70}));
    EXPECT_EQ(drag.MouseMove(5, 2, 51, 70), (TWindowPos{49, 63}));
    EXPECT_EQ(drag.MouseMove(-200, 9, 10, 20), (TWindowPos{-197, 20})); // off the screen
    drag.MouseUp();
    EXPECT_FALSE(drag.Dragging);
    EXPECT_EQ(drag.MouseMove(100, 100, 50, 60), std::nullopt);
    drag.MouseDown(150, 140); // a new press starts from its own point
    EXPECT_EQ(drag.MouseMove(10, 5, 20, 30), (TWindowPos{-120, -105}));
}
