// The status line's hover text: only a failed run has one, its first cause
// on one line and cut short whole letters at a time, then the log's path.
#include "RunHint.h"
#include "GetFilesThr.h"
#include "Messages.h"

#include <gtest/gtest.h>

TEST(RunHint, OnlyAFailedRunHasOneWithItsFirstCauseAndTheLog) {
    const std::string log = "C:\\Users\\p\\AppData\\Local\\Quenmor\\launcher.log";
    TRunHint hint(log);
    hint.RunStarted();
    hint.Failure("http://h/files.lst.bz2: the server answered HTTP 404\r\n<html>");
    hint.Failure("a later cause");
    EXPECT_EQ(hint.Text(), ""); // not before the run ends
    hint.RunEnded(status::kFailed);
    EXPECT_EQ(hint.Text(), "http://h/files.lst.bz2: the server answered HTTP 404  <html>\n" +
                               std::string(kLogFileLabel) + log);
    hint.RunEnded(status::kAllUpdated); // a part failed, the run did not
    EXPECT_EQ(hint.Text(), "");
    hint.RunStarted(); // without a cause it still names the log
    hint.RunEnded(status::kFailed);
    EXPECT_EQ(hint.Text(), std::string(kLogFileLabel) + log);
}

TEST(RunHint, ALongCauseIsCutBeforeTheLetterThatPassesTheBound) {
    TRunHint hint("log");
    std::string cause = "x"; // so that the bound falls inside a two-byte letter
    for (int i = 0; i < 200; ++i)
        cause += "ж";
    hint.Failure(cause);
    EXPECT_EQ(hint.Cause(), cause.substr(0, TRunHint::kMaxCauseBytes - 1) + "…");
}
