#include "CommandLine.h"

#include <gtest/gtest.h>

TEST(CommandLineAnswer, HelpAndVersionAreAnsweredEverythingElseStartsTheWindow) {
    const std::string usage = CommandLineAnswer({"--help"}).value();
    EXPECT_EQ(usage.rfind("usage: Quenmor [--help] [--version]\n", 0), 0u);
    EXPECT_EQ(usage.back(), '\n');
    EXPECT_EQ(CommandLineAnswer({"-h"}), usage);
    EXPECT_EQ(CommandLineAnswer({"--version"}), "Quenmor " QUENMOR_VERSION "\n");
    // The first of them counts, wherever it stands.
    EXPECT_EQ(CommandLineAnswer({"x", "--version", "--help"}), "Quenmor " QUENMOR_VERSION "\n");
    EXPECT_EQ(CommandLineAnswer({}), std::nullopt);
    EXPECT_EQ(CommandLineAnswer({"--verbose", "-help", "help"}), std::nullopt);
}
