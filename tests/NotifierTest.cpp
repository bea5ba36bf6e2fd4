// The run's notifications between the worker and the host: batches, the
// progress left out, the gauges' scale, and a host that refuses.
#include "Notifier.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>

using namespace testing_support;
using Events = std::vector<std::string>;

namespace {

class NotifierTest : public ::testing::Test {
protected:
    TDispatcher Counting() {
        return [this](const std::function<void()>& notification) {
            ++handOvers_;
            notification();
        };
    }

    RecordingTarget target_;
    int handOvers_ = 0;
};

} // namespace

// A batch waits until it is due or something that is never held back comes;
// either way the host gets it whole, in order, in one hand-over.
TEST_F(NotifierTest, BatchesWaitUntilDueOrUntilACommand) {
    TNotifier notifier(target_, Counting(), {false, true});
    EXPECT_EQ(notifier.Due(), std::chrono::steady_clock::time_point::max());
    const auto before = std::chrono::steady_clock::now();
    notifier.ShowStatus("a");
    notifier.SetFileProgress(3);
    notifier.ShowCause("why");
    EXPECT_GE(notifier.Due(), before + TNotifier::kBatchInterval);
    notifier.FlushIfDue();
    EXPECT_EQ(handOvers_, 0);
    // Some systems' sleeps end a little before the clock reaches their end.
    for (int i = 0; i < 1000 && std::chrono::steady_clock::now() < notifier.Due(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    notifier.FlushIfDue();
    EXPECT_EQ(handOvers_, 1);
    EXPECT_EQ(notifier.Due(), std::chrono::steady_clock::time_point::max());

    notifier.ShowStatus("b");
    notifier.StoreRevision(7);
    EXPECT_EQ(handOvers_, 3); // the batch, then the revision by itself
    EXPECT_EQ(target_.Events(),
              (Events{"ShowStatus:a", "SetFileProgress:3", "ShowStatus:b", "StoreRevision:7"}));
    EXPECT_EQ(target_.Causes(), Events{"why"});
}

// Progress that would change no whole percentage is left out, and goes out
// before anything else is shown, scaled as the gauge was when it was sent.
TEST_F(NotifierTest, ProgressLeftOutGoesOutBeforeTheNextNotificationAtItsScale) {
    TNotifier notifier(target_, {}, {true, false});
    notifier.SetGaugeMax(TRunGauge::File, std::int64_t{8} << 30); // scaled by 8
    notifier.SetFileProgress(std::int64_t{4} << 30);
    notifier.SetFileProgress((std::int64_t{4} << 30) + 1024); // the same percentage
    notifier.SetGaugeMax(TRunGauge::File, 100);
    notifier.SetFileProgress(50); // too soon after the last
    notifier.SetFileProgress(60);
    notifier.Flush();
    EXPECT_EQ(target_.Events(),
              (Events{"SetFileGaugeMax:1073741824", "SetFileProgress:536870912",
                      "SetFileProgress:536871040", "SetFileGaugeMax:100", "SetFileProgress:60"}));
}

// A notification the host refuses ends the run, not the step it came in:
// it is raised as a refusal, and a batch stops at it.
TEST_F(NotifierTest, ARefusalStopsItsBatchAndIsRaisedAsARefusal) {
    target_.Refuse("ShowStatus:b");
    TNotifier notifier(target_, Counting(), {false, true});
    notifier.ShowStatus("a");
    notifier.ShowStatus("b");
    notifier.ShowStatus("c");
    try {
        notifier.Flush();
        FAIL() << "the refusal was not raised";
    } catch (const TNotifier::HostRefusal& refusal) {
        EXPECT_THROW(std::rethrow_exception(refusal.error), std::exception);
    }
    EXPECT_EQ(target_.Events(), Events{"ShowStatus:a"});
    notifier.Drop();
    notifier.UnlockCommands();
    EXPECT_EQ(target_.Events(), (Events{"ShowStatus:a", "UnlockCommands"}));
}
