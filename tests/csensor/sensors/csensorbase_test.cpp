#include "csensor/sensors/csensorerrors.h"
#include "platform/trace/tracecapture.h"
#include "sensortestutil.h"

#include <gtest/gtest.h>

#include <tuple>

using sensortest::BaseSensor;
using sensortest::Entry;

namespace {

const char kChannels[] = "[General]\n"
                         "Channels=x,h,i,lk,ch,par,m,lock,range,strokelimit,forcedir,u,off\n"
                         "[Default]\nAccess=RW\nMin=-10\nMax=10\nStep=0.001\n"
                         "[x]\nMin=-2000\nMax=2000\n"
                         "[h]\nStep=0.5\n"
                         "[i]\nAccess=I\n"
                         "[lk]\nParent=lk\n"
                         "[ch]\nParent=par\n"
                         "[par]\nMin=-1\nMax=1\n"
                         "[m]\nParent=m\nMaster=1\n"
                         "[range]\nMin=1\nMax=3\nStep=1\nDefault=1\n"
                         "[off]\nAccess=D\n";

class SensorBaseValues : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(sensor.Install(kChannels)) << sensor.Codes(); }
    BaseSensor sensor;
};

} // namespace

TEST_F(SensorBaseValues, ClampedRoundedLinkedActivityBadIndicesOffsetsAndTheFifo) {
    // -2000.0000000005 is within the tolerance; access "I" is never clamped; a master is
    // clamped even though it is linked, a child is not.
    const std::tuple<const char*, double, double> cases[] = {
        {"x", 2500, 2000},   {"x", -2000.0000000005, -2000},
        {"x", -3000, -2000}, {"i", 50, 50},
        {"h", 1.3, 1.5},     {"h", 1.2, 1.0},
        {"h", -1.3, -1.5},   {"h", 1.25, 1.5},
        {"h", 10.2, 10.0},   {"m", 50, 10},
        {"ch", 30, 30}};
    for (const auto& [name, set, expected] : cases) {
        ASSERT_TRUE(sensor.SetPropertyValue(name, set));
        EXPECT_DOUBLE_EQ(sensor.Value(name), expected) << name << "=" << set;
    }
    // A value set restores the activity the sensor had.
    ASSERT_TRUE(sensor.SetActive(true));
    ASSERT_TRUE(sensor.SetPropertyValue("x", 3.0));
    EXPECT_TRUE(sensor.IsActive());
    ASSERT_TRUE(sensor.SetPropertyValue("x", 3.0)); // obsolete path too
    EXPECT_TRUE(sensor.IsActive());
    ASSERT_TRUE(sensor.SetActive(false));
    ASSERT_TRUE(sensor.SetPropertyValue("x", 4.0));
    EXPECT_FALSE(sensor.IsActive());

    vyx::trace::TraceCapture capture;
    double value = 0.0;
    EXPECT_FALSE(sensor.SetPropertyValue(99, 1.0));
    EXPECT_FALSE(sensor.GetPropertyValue(-1, &value));
    EXPECT_FALSE(sensor.GetPropertyValue(0, nullptr));
    EXPECT_FALSE(sensor.SetPropertyValue("nothing", 1.0));
    EXPECT_FALSE(sensor.SetPropertyFifoAddress("x", nullptr));
    EXPECT_FALSE(sensor.GetPropertyOffset(13, &value));
    EXPECT_EQ(sensor.GetPropertyValueAddress("nothing"), nullptr);
    // An unknown name is refused like a bad index.
    EXPECT_EQ(capture.CountErrLog("GetPropertyValueAddress(): Invalid index #-1"), 1);
    EXPECT_EQ(sensor.Codes(), "41,41,41,41,41,41,41");

    // "lock" is accepted and left alone.
    EXPECT_TRUE(sensor.SetPropertyValue("lock", 5.0));
    EXPECT_EQ(sensor.Value("lock"), 0.0);

    double slot = -1.0;
    ASSERT_TRUE(sensor.SetPropertyFifoAddress("lk", &slot));
    // Linked and not a master: neither clamped nor published.
    ASSERT_TRUE(sensor.SetPropertyValue("lk", 50.0));
    EXPECT_EQ(slot, -1.0);
    EXPECT_DOUBLE_EQ(sensor.Value("lk"), 50.0);
    ASSERT_TRUE(sensor.SetPropertyValueFromLink("lk", 4.0));
    EXPECT_DOUBLE_EQ(sensor.Value("lk"), 4.0);

    double xSlot = 0.0;
    ASSERT_TRUE(sensor.SetPropertyFifoAddress("x", &xSlot));
    ASSERT_TRUE(sensor.SetPropertyOffset("x", 1.0));
    ASSERT_TRUE(sensor.SetPropertyValue("x", 7.0));
    EXPECT_DOUBLE_EQ(xSlot, 6.0); // the raw value is published
    EXPECT_DOUBLE_EQ(sensor.Value("x"), 7.0);

    // New property data: offsets and values start over, the place in the FIFO stays.
    ASSERT_TRUE(sensor.SetPropertyData(kChannels));
    EXPECT_EQ(sensor.GetPropertyValueAddress("x"), &xSlot);
    EXPECT_EQ(sensor.Value("x"), 0.0);
    EXPECT_EQ(sensor.Value("range"), 1.0);

    // Data that fails leaves the table as it was; empty text installs nothing.
    const size_t count = sensor.GetPropertyCount();
    EXPECT_FALSE(sensor.SetPropertyData("[General]\nChannels=unknown\n"));
    EXPECT_EQ(sensor.Codes(), "32,33,40");
    EXPECT_TRUE(sensor.SetPropertyData(""));
    EXPECT_EQ(sensor.GetPropertyCount(), count);

    // Values exchanged with the FIFO.
    double x = 0.0, lk = 0.0, ch = 0.0, off = 0.0;
    ASSERT_TRUE(sensor.SetPropertyFifoAddress("x", &x));
    ASSERT_TRUE(sensor.SetPropertyFifoAddress("lk", &lk));
    ASSERT_TRUE(sensor.SetPropertyFifoAddress("ch", &ch));
    ASSERT_TRUE(sensor.SetPropertyFifoAddress("off", &off));
    ASSERT_TRUE(sensor.SetPropertyValue("x", 3.0));
    x = 99.0;   // an unlinked channel: the instance wins
    lk = 50.0;  // linked: the FIFO wins, limited to the channel
    ch = 5.0;   // child: limited to its parent as well
    off = 77.0; // access D: untouched
    sensor.UpdatePropertyFifoValues();
    EXPECT_DOUBLE_EQ(x, 3.0);
    EXPECT_EQ(std::make_pair(sensor.Value("lk"), sensor.Value("ch")), std::make_pair(10.0, 1.0));
    EXPECT_EQ(std::make_pair(lk, ch), std::make_pair(10.0, 1.0));
    EXPECT_EQ(off, 77.0);

    // A parent entered only through its child is not in the channel list.
    ASSERT_TRUE(sensor.Install("[General]\nChannels=kid\n[kid]\nParent=ghost\n"));
    capture.Clear();
    sensor.UpdatePropertyFifoValues();
    EXPECT_EQ(capture.CountTrace("UpdatePropertyFifoValues(): channel ghost not supported by "
                                 "CSensor"),
              1);
}
