// The status line's hover text after a run: only a failed run has one, with
// the run's first cause on one line and the log's path; a new run starts
// without the last one's.
#include "GetFilesThr.h"
#include "Messages.h"
#include "RunHint.h"

#include <gtest/gtest.h>

namespace {
const std::string kLog = "C:\\Users\\p\\AppData\\Local\\Quenmor\\launcher.log";
}

TEST(RunHint, AFailedRunShowsItsFirstCauseAndTheLog) {
    TRunHint hint(kLog);
    hint.RunStarted();
    hint.Failure("http://127.0.0.1/files.lst.bz2: the server answered HTTP 404\r\n<html>");
    hint.Failure("a later cause");
    EXPECT_TRUE(hint.Text().empty()); // not before the run ends
    hint.RunEnded(status::kFailed);
    EXPECT_EQ(hint.Text(), "http://127.0.0.1/files.lst.bz2: the server answered HTTP 404  "
                           "<html>\n" +
                               std::string(kLogFileLabel) + kLog);

    // Failing without a cause still says where the log is.
    hint.RunStarted();
    EXPECT_TRUE(hint.Text().empty());
    EXPECT_TRUE(hint.Cause().empty());
    hint.RunEnded(status::kFailed);
    EXPECT_EQ(hint.Text(), std::string(kLogFileLabel) + kLog);
}

TEST(RunHint, RunsThatEndOtherwiseHaveNone) {
    TRunHint hint(kLog);
    hint.RunStarted();
    hint.Failure("hosts file: access denied"); // a part failed, the run did not
    hint.RunEnded(status::kAllUpdated);
    EXPECT_TRUE(hint.Text().empty());
    hint.RunEnded(""); // ended without a status text
    EXPECT_TRUE(hint.Text().empty());
}

TEST(RunHint, ALongCauseIsCutAtACharactersBoundary) {
    TRunHint hint(kLog);
    hint.RunStarted();
    // Two-byte letters with one ASCII byte ahead: the bound falls inside one.
    std::string cyrillic = "x";
    for (int i = 0; i < 200; ++i)
        cyrillic += "ж";
    hint.Failure(cyrillic);
    const std::string& cause = hint.Cause();
    ASSERT_EQ(cause.substr(cause.size() - 3), "…");
    const std::string kept = cause.substr(0, cause.size() - 3);
    EXPECT_LE(kept.size(), TRunHint::kMaxCauseBytes);
    EXPECT_GE(kept.size(), TRunHint::kMaxCauseBytes - 1);
    EXPECT_EQ((kept.size() - 1) % 2, 0u); // whole letters only
    EXPECT_EQ(cause.rfind("ж…"), cause.size() - 5);
}
