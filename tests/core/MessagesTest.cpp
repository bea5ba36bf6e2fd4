#include "Messages.h"

#include <gtest/gtest.h>

TEST(ErrorBoxText, AddsAFullStopOnlyAfterCharactersThatSortAfterIt) {
    EXPECT_EQ(ErrorBoxText("Unable to write to /x/Quenmor.ini"),
              "Unable to write to /x/Quenmor.ini.");
    EXPECT_EQ(ErrorBoxText("File not found"), "File not found.");
    EXPECT_EQ(ErrorBoxText("Done."), "Done.");
    EXPECT_EQ(ErrorBoxText("Stop!"), "Stop!");
    EXPECT_EQ(ErrorBoxText("'x' is not a valid boolean value"),
              "'x' is not a valid boolean value.");
    EXPECT_EQ(ErrorBoxText("(1, 2)"), "(1, 2)"); // ')' and '-' sort before it
    EXPECT_EQ(ErrorBoxText("a -"), "a -");
    EXPECT_EQ(ErrorBoxText("C:/"), "C:/.");
    EXPECT_EQ(ErrorBoxText("Ошибка"), "Ошибка.");
    EXPECT_EQ(ErrorBoxText("Ошибка ©"), "Ошибка ©.");
    EXPECT_EQ(ErrorBoxText(""), "");
}
