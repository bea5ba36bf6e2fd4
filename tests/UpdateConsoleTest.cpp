// quenmor-update's console: the status lines it prints and leaves out, the
// live line's bytes, speed and time left, and the line that ends a run.
#include "ConsoleTarget.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

using namespace testing_support;

namespace {

class UpdateConsoleTest : public ::testing::Test {
protected:
    UpdateConsoleTest()
        : settings_(platform::PathText(dir_.path() / "Quenmor.ini")),
          console_(out_, err_, settings_, true, log_, false) {}

    TempDir dir_;
    std::string settings_;
    std::ostringstream out_, err_;
    TRunLog log_;
    ConsoleTarget console_;
};

} // namespace

TEST_F(UpdateConsoleTest, PrintsEachStatusOnceAndNoBlankLines) {
    console_.LockCommands();
    console_.ShowStatus(status::kFetchingList);
    console_.ShowStatus("");
    console_.ShowStatus(status::kFailed);
    console_.ShowStatus(status::kFailed);
    console_.UnlockCommands();
    EXPECT_EQ(out_.str(), std::string(status::kFetchingList) + "\n" + status::kFailed + "\n");
    EXPECT_EQ(console_.FinalLine(3), "") << "the failure text ends a failed run";
}

TEST_F(UpdateConsoleTest, TheLiveLineCountsTheBytesOfTheWholeRun) {
    console_.LockCommands();
    console_.ShowStatus(status::kChecking);
    console_.SetTotalGaugeMax(59);
    console_.SetTotalProgress(12);
    EXPECT_NE(console_.LiveLine({}).find("total [####----------------] 12/60"), std::string::npos)
        << console_.LiveLine({});

    // Three copies: 1, 6 and 3 MB. Halfway through the second, 4 of 10 MB.
    console_.ShowPlan({1'000'000, 6'000'000, 3'000'000});
    console_.SetTotalGaugeMax(2);
    console_.ShowStatus(std::string(status::kDownloading) + "a");
    console_.SetFileGaugeMax(1'000'000);
    console_.SetFileProgress(1'000'000);
    console_.ShowStatus(std::string(status::kExtracting) + "a");
    console_.SetTotalProgress(1);
    console_.ShowStatus(std::string(status::kDownloading) + "b");
    // A gauge scaled into 32 bits shows the same share.
    console_.SetFileGaugeMax(3'000'000);
    console_.SetFileProgress(1'500'000);
    EXPECT_NE(console_.LiveLine({}).find("total [########------------] 4.0 MB / 10.0 MB"),
              std::string::npos)
        << console_.LiveLine({});
    console_.ShowStatus(std::string(status::kExtracting) + "b");
    EXPECT_NE(console_.LiveLine({}).find("7.0 MB / 10.0 MB"), std::string::npos);
    console_.SetTotalProgress(2);
    console_.ShowStatus(std::string(status::kDownloading) + "c");
    console_.ShowStatus(std::string(status::kExtracting) + "c");
    console_.SetTotalProgress(3);
    console_.SetTotalProgress(0); // the gauge's end; the bytes stay
    EXPECT_NE(console_.LiveLine({}).find("10.0 MB / 10.0 MB"), std::string::npos);
    console_.ShowStatus(status::kAllUpdated);
    console_.UnlockCommands();
    EXPECT_EQ(console_.FinalLine(12), "updated to revision 12, 3 files, 10.0 MB");
    // The live line went to stderr and was taken away before each status.
    EXPECT_NE(err_.str().find("\r\033[Kfile ["), std::string::npos);
    EXPECT_EQ(err_.str().substr(err_.str().size() - 4), "\r\033[K");
}

TEST_F(UpdateConsoleTest, ARunWithNothingToFetchIsUpToDate) {
    console_.LockCommands();
    console_.ShowStatus(status::kFetchingList);
    console_.ShowStatus("");
    EXPECT_EQ(console_.FinalLine(4), "") << "not before the run's end";
    console_.UnlockCommands();
    EXPECT_EQ(console_.FinalLine(4), "up to date, revision 4");
}

TEST_F(UpdateConsoleTest, AnInterruptEndsTheLiveLineAndSaysWhatFollows) {
    console_.LockCommands();
    console_.SetFileGaugeMax(100);
    console_.Interrupted();
    const std::string err = err_.str();
    EXPECT_NE(err.find("0/101\nquenmor-update: stopping once the file being installed is in place"),
              std::string::npos)
        << err;
}
