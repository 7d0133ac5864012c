#include "csensor/sensors/csensordefaults.h"
#include "csensor/sensors/csensorerrors.h"
#include "platform/trace/tracecapture.h"
#include "sensortestutil.h"

#include <gtest/gtest.h>

#include <cstring>
#include <tuple>
#include <vector>

using sensortest::Doc;
using sensortest::Entry;
using sensortest::ExpectEntries;
using sensortest::PlainSensor;

namespace {

CSensorChannelDesc Desc(const CSensor& sensor, const char* name) {
    auto it = sensor.GetPropertyTable().find(name);
    EXPECT_NE(it, sensor.GetPropertyTable().end()) << name;
    return it == sensor.GetPropertyTable().end() ? CSensorChannelDesc() : it->second;
}

} // namespace

TEST(SensorChannels, DefaultTableListsSectionsLaterAndBrokenDataLinksAndDescriptions) {
    // A replaced default that does not process leaves new sensors not ready; the one a
    // stored default becomes is the probe manager's stored-defaults test.
    CSensor_SetDefaultConfigData("[General]\n");
    EXPECT_EQ(PlainSensor().GetState(), CSENSOR_STATE_NONE);
    CSensor_SetDefaultConfigData("");
    PlainSensor sensor;
    EXPECT_EQ(sensor.GetState(), CSENSOR_STATE_READY);
    EXPECT_EQ(sensor.GetPropertyCount(), 48u);

    // A comment ends its own item only: the item after the next comma is read again.
    const std::pair<const char*, std::vector<std::string>> lists[] = {
        {" gain ; comment", {"gain"}},        {"a;old,b", {"a", "b"}},
        {"a,b // was: c,d", {"a", "b", "d"}}, {"a, b\t,,c // d, e", {"a", "b", "c", "e"}},
        {"a,/* b */,c", {"a", "c"}},          {"// all old,", {}},
        {"x/y,g a i n", {"x/y", "gain"}},
    };
    for (const auto& [list, names] : lists)
        EXPECT_EQ(CSensor_SplitChannelList(list), names) << list;
    std::string longName(40, 'n');
    EXPECT_EQ(CSensor_SplitChannelList(longName + ",b")[0], std::string(31, 'n'));
    ASSERT_TRUE(sensor.Install("[General]\nChannels= gain ;comment\n"));
    EXPECT_EQ(sensor.GetPropertyCount(), 1u);
    EXPECT_TRUE(sensor.HasProperty("gain"));

    ASSERT_TRUE(sensor.Install("[General]\nChannels=a,b,c\n"));
    std::string processed = Doc(sensor, &CSensor::GetPropertyData);
    ExpectEntries(processed, "Default",
                  "Access=R Min=0 Max=1 Step=0.001 Accuracy=0.001 A_Max=0 V_Max=0 Default=0 "
                  "Keypad=0 Master=0 UpdateInClock=0");
    EXPECT_EQ(Desc(sensor, "a").step, 0.001); // and they apply

    // The processed data is complete: installing it again changes nothing.
    ASSERT_TRUE(sensor.Install(processed));
    EXPECT_EQ(Doc(sensor, &CSensor::GetPropertyData), processed);

    // Flags are normalised to 0 and 1, and written back so.
    ASSERT_TRUE(sensor.Install("[General]\nChannels=a,b,c\n[Default]\nMaster=5\n"
                               "[a]\nKeypad=7\n[b]\nKeypad=-2\nUpdateInClock=1\n"));
    EXPECT_EQ(Desc(sensor, "a").keypad, 1);
    EXPECT_EQ(Desc(sensor, "c").master, 1);
    processed = Doc(sensor, &CSensor::GetPropertyData);
    ExpectEntries(processed, "a", "Keypad=1");
    ExpectEntries(processed, "b", "Keypad=0");
    ExpectEntries(processed, "Default", "Master=1");

    // Sections override the defaults.
    ASSERT_TRUE(sensor.Install(
        "[General]\nChannels=a,b,c,d,e,f,g,h,i\n[Default]\nAccess=RW ; all writable\n"
        "[a]\nAccess= R \n[b]\nAccess=W\n[c]\nAccess=B\n[d]\nAccess=I\n[e]\nAccess=D\n"
        "[f]\nAccess=rw\nType=COMPONENT\nMove=TARGET\n"
        "[g]\nMin=-5\nMax=5\nStep=0.5\nAccuracy=0.1\nA_Max=2\nV_Max=3\nDefault=1.5\n"
        "[h]\nType=NUMBER\nMove=NOM\n"));
    // Letters are case-sensitive: "rw" is no access code and falls back to D.
    const std::pair<const char*, uint32_t> access[] = {
        {"a", CSENSOR_ACCESS_R}, {"b", CSENSOR_ACCESS_W}, {"c", CSENSOR_ACCESS_B},
        {"d", CSENSOR_ACCESS_I}, {"e", CSENSOR_ACCESS_D}, {"f", CSENSOR_ACCESS_D},
        {"i", CSENSOR_ACCESS_RW}};
    for (const auto& [name, code] : access)
        EXPECT_EQ(Desc(sensor, name).access, code) << name;
    EXPECT_EQ(Desc(sensor, "f").flags, CSENSOR_FLAG_COMPONENT | CSENSOR_FLAG_TARGET);
    EXPECT_EQ(Desc(sensor, "h").flags, 0);
    const CSensorChannelDesc g = Desc(sensor, "g");
    EXPECT_EQ(std::make_tuple(g.min, g.max, g.step, g.accuracy, g.a_max, g.v_max, g.default_value),
              std::make_tuple(-5.0, 5.0, 0.5, 0.1, 2.0, 3.0, 1.5));

    vyx::trace::TraceCapture capture;
    // An unknown type or move skips only that channel.
    ASSERT_TRUE(sensor.Install("[General]\nChannels=a,b,c\n[a]\nType=STRING\n[c]\nMove=FAST\n"));
    EXPECT_EQ(sensor.GetPropertyCount(), 1u);
    EXPECT_TRUE(sensor.HasProperty("b"));
    EXPECT_EQ(capture.CountErrLog("ProcessConfigData(): Type 'STRING' not supported"), 1);
    EXPECT_EQ(capture.CountErrLog("ProcessConfigData(): Type 'FAST' not supported"), 1);

    ASSERT_TRUE(sensor.Install("[General]\nChannels=a,b\n"));
    EXPECT_FALSE(sensor.SetPropertyData("[General]\nChannels=a,zz\n[a]\nMax=5\n"));
    EXPECT_EQ(Desc(sensor, "a").max, 5.0);
    EXPECT_EQ(sensor.GetPropertyCount(), 2u); // no "zz"
    EXPECT_EQ(capture.CountErrTrace("ProcessConfigData(): channel 'zz' not supported"), 1);
    EXPECT_EQ(capture.CountErrTrace("CSensor::SetPropertyData(): ProcessConfigData() failed"), 1);
    EXPECT_EQ(sensor.Codes(), "32");
    // The failed data did not become the processed property data.
    EXPECT_EQ(Entry(Doc(sensor, &CSensor::GetPropertyData), "a", "Max"), "<missing>");

    EXPECT_FALSE(sensor.Install("[General]\nChannel=a\n"));
    EXPECT_EQ(capture.CountErrTrace(
                  "ProcessConfigData(): item 'Channels' not found in section [General]"),
              1);
    EXPECT_EQ(sensor.Codes(), "32");
    EXPECT_FALSE(sensor.Install("[General]\nChannels=a\n[General]\n"));
    EXPECT_EQ(sensor.Codes(), "32");

    // The child comes first; its parent keeps the link when it is read afterwards.
    ASSERT_TRUE(sensor.Install("[General]\nChannels=child,parent,self,orphan\n"
                               "[child]\nParent=parent\n[self]\nParent=self\n"
                               "[orphan]\nParent=ghost\n"));
    // A parent that is no channel of the list ("ghost") is still entered, empty but for its
    // link.
    const std::tuple<const char*, const char*, int> links[] = {{"child", "parent", 1},
                                                               {"parent", "child", 0},
                                                               {"self", "self", 0},
                                                               {"ghost", "orphan", 0}};
    for (const auto& [name, link, isChild] : links) {
        EXPECT_STREQ(Desc(sensor, name).link, link) << name;
        EXPECT_EQ(Desc(sensor, name).is_child, isChild) << name;
    }
    EXPECT_EQ(sensor.GetPropertyCount(), 5u);

    // Redefining the parent alone keeps its child.
    ASSERT_TRUE(sensor.SetPropertyData("[General]\nChannels=parent\n[parent]\nMax=9\n"));
    EXPECT_STREQ(Desc(sensor, "parent").link, "child");

    // Descriptions by name and by index in name order.
    ASSERT_TRUE(sensor.Install("[General]\nChannels=x,c,range\n"));
    EXPECT_EQ(sensor.GetPropertyIndex("range"), 1u);
    EXPECT_EQ(sensor.GetPropertyIndex("y"), 4294967295u);
    EXPECT_EQ(sensor.GetPropertyIndex(nullptr), 4294967295u);
    CSensorChannelDesc desc;
    ASSERT_TRUE(sensor.GetPropertyData(1, &desc));
    EXPECT_STREQ(desc.name, "range");
    EXPECT_FALSE(sensor.GetPropertyData("zz", &desc));
    EXPECT_FALSE(sensor.GetPropertyData("c", nullptr));
    EXPECT_FALSE(sensor.GetPropertyData(3, &desc));
    EXPECT_FALSE(sensor.SetPropertyData(-1, &desc));
    EXPECT_FALSE(sensor.SetPropertyData("c", nullptr));
    EXPECT_EQ(sensor.Codes(), "39,39,39,39,39");
    desc.min = -3.0;
    ASSERT_TRUE(sensor.SetPropertyData("range", &desc));
    EXPECT_EQ(Desc(sensor, "range").min, -3.0);
}

TEST(SensorDocuments, ComponentDataInvalidTextsControlParametersAndValueMaps) {
    PlainSensor sensor;
    vyx::trace::TraceCapture capture;
    std::string text;
    EXPECT_FALSE(sensor.SetComponentData("probe.tip", "[A]\nk=v\n"));
    EXPECT_EQ(capture.CountErrTrace("SetComponentData(): unknown component name 'probe.tip'"), 1);
    EXPECT_FALSE(sensor.GetComponentData("probe.tip", text));
    EXPECT_EQ(
        capture.CountErrTrace("GetComponentData(): unknown component name 'probe.tip' [CSensor]"),
        1);

    sensor.Register("probe.tip");
    EXPECT_FALSE(sensor.SetComponentData("probe.tip", "k=v\n"));
    EXPECT_EQ(capture.CountErrTrace("SetComponentData(): invalid ini format in 'probe.tip'"), 1);
    ASSERT_TRUE(sensor.SetComponentData("probe.tip", "[A]\nk=v\n"));
    ASSERT_TRUE(sensor.GetComponentData("probe.tip", text));
    EXPECT_EQ(text, "[A]\nk=v\n");
    EXPECT_EQ(sensor.Codes(), "39,39,32");

    // Invalid text leaves a document unchanged.
    ASSERT_TRUE(sensor.SetConfigData("[Geometry]\nx0=1\n"));
    EXPECT_FALSE(sensor.SetConfigData("x0=2\n"));
    EXPECT_FALSE(sensor.SetGeometryData("[A]\n[A]\n"));
    EXPECT_FALSE(sensor.SetHardwareProperties("broken\n"));
    EXPECT_FALSE(sensor.SetUserData("[B\n"));
    EXPECT_EQ(sensor.Codes(), "32,32,32,32");

    ASSERT_TRUE(sensor.GetConfigData(text));
    EXPECT_EQ(Entry(text, "Geometry", "x0"), "1");
    // The component vector names are computed and marked so.
    EXPECT_EQ(Entry(text, "ProbeSystem", "LintelChannel_ca"), "           // Readonly");
    EXPECT_EQ(Entry(text, "ProbeSystem", "LintelChannel_cb"), "vec_b           // Readonly");

    ASSERT_TRUE(sensor.GetHardwareData(text));
    EXPECT_EQ(text, "[Probe]\nType=Form\nDampingTime_s=0.05\n[TSK]\nMax_1=1.0\nMin_1=-1.0\n"
                    "Max_2=1.0\nMin_2=-1.0\n");

    EXPECT_FALSE(sensor.HasControlParameters());
    ASSERT_TRUE(sensor.SetUserData("[TrackingControlPara]\nFullSpeedCorridorPercent=80\n"));
    EXPECT_TRUE(sensor.HasControlParameters());
    // New user data without the sections: none read.
    ASSERT_TRUE(sensor.SetUserData("[Other]\nTargetWindow_mm=5\n"));
    EXPECT_FALSE(sensor.HasControlParameters());

    ASSERT_TRUE(sensor.SetHardwareProperties("[Access]\nx=RW ; writable\ny=R\nnone=W\n"));
    EXPECT_EQ(sensor.ReadAccessSettings(), 2);
    EXPECT_EQ(Desc(sensor, "x").access, CSENSOR_ACCESS_RW);
    EXPECT_EQ(Desc(sensor, "y").access, CSENSOR_ACCESS_R);
    EXPECT_EQ(Desc(sensor, "z").access, CSENSOR_ACCESS_I);

    // A value map is set in name order, and every entry is tried.
    ASSERT_TRUE(sensor.Install("[General]\nChannels=a,c\n"));
    EXPECT_FALSE(sensor.SetPropertyValue(CSensorValueMap{{"c", 3}, {"b", 2}, {"a", 1}}));
    EXPECT_EQ(sensor.lastSet, "a=1;b=2;c=3;");
    EXPECT_TRUE(sensor.SetPropertyValue(CSensorValueMap{{"c", 3}, {"a", 1}}));
}

TEST(SensorErrors, TextsCarryTheSensorNameAndQueueDrainsOldestFirst) {
    sensortest::BaseSensor sensor;
    EXPECT_EQ(std::string(sensor.GetErrorText(31)),
              "CSensor: Failed to initialize" + std::string(39, ' '));
    EXPECT_EQ(std::string(sensor.GetErrorText(37)),
              "CSensor: Invalid probe system type [Use probe.list to determine type]");
    EXPECT_EQ(std::string(sensor.GetErrorText(43)),
              "CSensor: Command 'movezero' not possible with 'forcedir=0' and 'deflection=0' "
              "[Enter appropriate values]");
    // Texts of codes 31 to 36 and 39 to 41 are padded to 59 characters.
    for (uint32_t code = 31; code <= 44; ++code) {
        const bool padded = (code <= 36) || (code >= 39 && code <= 41);
        EXPECT_EQ(strlen(sensor.GetErrorText(code)) == strlen("CSensor: ") + 59, padded) << code;
    }
    // The queue is drained oldest first, and answers 0 when empty.
    EXPECT_EQ(sensor.GetErrorCode(), 0u);
    sensor.GetPropertyValue(-1, nullptr);        // 41
    sensor.SetComponentData("nothing", "[A]\n"); // 39
    EXPECT_EQ(sensor.Codes(), "41,39");
}
