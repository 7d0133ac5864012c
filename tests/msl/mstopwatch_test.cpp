#include "msl/mipc/mstopwatch.h"
#include "msl/mutil/msleep.h"
#include "platform/trace/tracecapture.h"

#include <gtest/gtest.h>

#include <cmath>

// Only lower bounds: a loaded machine may take longer, never shorter.
TEST(MStopwatch, MeasuresSleepsAndRestarts) {
    MStopwatch reference;
    MStopwatch watch;
    EXPECT_DOUBLE_EQ(watch.GetResolution(), 1e-9);
    ASSERT_EQ(msleep_sec(0.05), 0);
    double first = watch.Elapsed();
    EXPECT_GE(first, 0.05);
    double restarted = watch.Restart();
    EXPECT_GE(restarted, first);
    // The new start lies `restarted` after the old one, which is after the reference's start.
    double afterRestart = watch.Elapsed();
    EXPECT_GE(afterRestart, 0.0);
    EXPECT_LE(afterRestart, reference.Elapsed() - restarted + 1e-9);
    watch.Restart();
    watch.Wait(0.01);
    EXPECT_GE(watch.Elapsed(), 0.01);
    ASSERT_EQ(msleep_sec(0.0015), 0); // truncated to 1 ms, not to nothing
    EXPECT_GE(watch.Elapsed(), 0.011);

    vyx::trace::TraceCapture capture;
    EXPECT_EQ(msleep_sec(0), 0);
    for (double bad : {-0.001, 2678400.5, std::nan(""), double(INFINITY)})
        EXPECT_EQ(msleep_sec(bad), -1) << bad;
    EXPECT_EQ(capture.ErrTrace(), std::vector<std::string>(4, "msleep_sec(): invalid argument"));
}
