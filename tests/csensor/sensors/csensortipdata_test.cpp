#include "csensor/sensors/csensorcalibration.h"
#include "csensor/sensors/csensorerrors.h"
#include "platform/trace/tracecapture.h"
#include "sensortestutil.h"

#include <gtest/gtest.h>

#include <ctime>
#include <tuple>

using sensortest::BaseSensor;
using sensortest::Doc;
using sensortest::Entry;
using sensortest::ExpectDirection;
using sensortest::ExpectEntries;

namespace {

std::time_t LocalDay(int day, int month, int year) {
    std::tm t = {};
    t.tm_mday = day;
    t.tm_mon = month - 1;
    t.tm_year = year - 1900;
    t.tm_hour = 12;
    t.tm_isdst = -1;
    return std::mktime(&t);
}

class SensorTip : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(sensor.SetConfigData("[Geometry]\nProbeType=R85Q\n"));
        sensor.SetCalibrationClock([] { return LocalDay(20, 2, 2024); });
    }
    BaseSensor sensor;
};

} // namespace

TEST_F(SensorTip, GeometryUnloadedTipsCalibrationOldRecordsAndTheRangeChannel) {
    ASSERT_TRUE(sensor.SetUserData("[General]\nTipName=ruby 2mm\n[Geometry]\nx0=100\n"
                                   "alpha=400\n[ProbeTipsOffsets]\nOffset_Z_mm=0.5\n"));
    std::string user = Doc(sensor, &CSensor::GetUserData);
    ExpectEntries(user, "Geometry", "alpha=359 z0=0");
    ExpectEntries(user, "ProbeTipsOffsets", "Offset_X_mm=0");
    // Tip 100 mm long, default stylus 50 mm, range 1: 10 mm/s.
    ExpectEntries(user, "MovezeroControlPara",
                  "MaxMovezeroSpeed_mm_s=10 MaxMovezeroAccel_mm_s2=40");
    ExpectEntries(user, "ProbeTip", "TipType=SPHERE");

    // Beta follows the tip vector; a straight tip downwards keeps beta 0.
    ASSERT_TRUE(sensor.ProcessUserData("[Geometry]\nx0=100\n", true));
    ExpectDirection(sensor, -1.0, 0.0, 0.0);
    ASSERT_TRUE(sensor.ProcessUserData("[Geometry]\nz0=-80\n", true));
    EXPECT_EQ(Entry(Doc(sensor, &CSensor::GetUserData), "Geometry", "beta"), "0");

    // Unloaded tips.
    vyx::trace::TraceCapture capture;
    ASSERT_TRUE(sensor.SetUserData("[Geometry]\nx0=0\n"));
    EXPECT_EQ(Entry(Doc(sensor, &CSensor::GetUserData), "ProbeTip", "TipType"), "<missing>");
    // The defaults are written back but not reported for a tip that is not there.
    EXPECT_EQ(Entry(Doc(sensor, &CSensor::GetUserData), "Geometry", "alpha"), "0");
    EXPECT_EQ(sensor.Codes(), "");

    ASSERT_TRUE(sensor.SetUserData("[Geometry]\nD=2\n"));
    EXPECT_EQ(capture.CountErrLog("ReadTipGeometry(): Invalid tip geometry for CSensor: x=0, y=0, "
                                  "z=0"),
              1);
    EXPECT_EQ(sensor.Codes(), "42");

    ASSERT_TRUE(sensor.SetUserData("[Geometry]\nz0=-50\nUnloadedWithGeometry=1\n"));
    EXPECT_EQ(Entry(Doc(sensor, &CSensor::GetUserData), "ProbeTip", "TipType"), "<missing>");

    EXPECT_FALSE(sensor.SetUserData("[Geometry\n"));
    EXPECT_EQ(sensor.Codes(), "32");

    MIniData doc;
    // Read on 20.02.2024, 41 days after 10.01.2024.
    // The document, the changes made, and the entries of [Range_1] and [Calibration] afterwards.
    const std::tuple<const char*, int, const char*, const char*> cases[] = {
        {"[Range_1]\nCalibrated=1\nInterval=30\nDate=10.01.2024\n", 0, "Calibrated=0",
         "Calibrated=0 Range_1=0"},
        // "Calibrated" 7 becomes 1 once all ranges are fine.
        {"[Calibration]\nCalibrated=7\nRange_2=1\n[Range_1]\nCalibrated=3\nInterval=60\n"
         "Date=10.01.2024\n",
         1, "Calibrated=1", "Calibrated=1 Range_1=1"},
        // Another range uncalibrated: the overall state drops to 0, whatever it was.
        {"[Calibration]\nCalibrated=1\nRange_1=1\nRange_2=0\n[Range_1]\nCalibrated=1\n"
         "Interval=60\nDate=10.01.2024\n",
         0, "Calibrated=1", "Calibrated=0 Range_1=1 Range_2=0"},
        {"[Calibration]\nCalibrated=1\nRange_2=none\n[Range_1]\nCalibrated=1\nInterval=60\n"
         "Date=10.01.2024\n",
         0, "Calibrated=1", "Calibrated=0"},
        {"[Calibration]\nCalibrated=0\nRange_2=2\n[Range_1]\nCalibrated=1\nInterval=60\n"
         "Date=10.01.2024\n",
         0, "Calibrated=1", "Calibrated=1"},
        // No date: the old default date is far past any interval.
        {"[Range_1]\nCalibrated=1\n", 1, "Date=01.01.2014 Interval=90 Calibrated=0", ""},
        {"[Range_1]\nCalibrated=1\nInterval=41\nDate=10.01.2024\n", 0, "Calibrated=1", ""},
        {"[Range_1]\nCalibrated=1\nInterval=40\nDate=10.01.2024\n", 0, "Calibrated=0", ""},
        // Interval 0 never runs out.
        {"[Range_1]\nCalibrated=1\nInterval=0\nDate=01.01.2000\n", 0, "Calibrated=1", ""},
    };
    for (const auto& [text, changes, range, calibration] : cases) {
        SCOPED_TRACE(text);
        doc.SetContentString(text);
        EXPECT_EQ(sensor.ReadSectionCalibrationState(doc, "Range_1"), changes);
        ExpectEntries(doc.GetContentString(), "Range_1", range);
        ExpectEntries(doc.GetContentString(), "Calibration", calibration);
    }

    ASSERT_TRUE(sensor.Install("[General]\nChannels=range\n[range]\nMin=1\nMax=3\nStep=1\n"
                               "Default=1\n"));
    ASSERT_TRUE(sensor.SetUserData("[Geometry]\nz0=-50\n[Range_1]\nCalibrated=1\n"
                                   "Date=01.02.2024\n[Range_2]\nE_1=2.5\nE_3=25\n"
                                   "E_3_default=3\nM0_2=0.1\n"));
    EXPECT_EQ(sensor.Codes(), "");
    // A new range re-applies the tip data, now for Range_2.
    ASSERT_TRUE(sensor.SetPropertyValue("range", 2.0));
    EXPECT_EQ(sensor.Codes(), "35"); // E_3 out of (0.1, 20)
    EXPECT_EQ(capture.CountErrLog("invalid probe tip gain E_3=25 in [Range_2]"), 1);
    // The refused gain is kept for whoever recalibrates.
    ExpectEntries(Doc(sensor, &CSensor::GetUserData), "Range_2",
                  "Calibrated=0 E_2=1 E_1_default=1 M0_3=0 E_3=25");
    ExpectEntries(Doc(sensor, &CSensor::GetUserData), "Calibration", "Range_1=1 Range_2=0");

    doc.SetContentString("[Calibration]\nCalibration=1\nDate=01.02.2024\nOperator=Bob\n"
                         "[Range_1]\nE_1=1\n[Range_2]\nDate=05.02.2024\n");
    EXPECT_EQ(CSensor_UpdateCalibrationSections(doc), 3);
    EXPECT_EQ(Entry(doc, "Calibration", "Calibrated"), "1");
    EXPECT_EQ(Entry(doc, "Calibration", "Date"), "<missing>");
    EXPECT_EQ(Entry(doc, "Range_1", "Date"), "01.02.2024");
    EXPECT_EQ(Entry(doc, "Range_2", "Operator"), "Bob");
    EXPECT_EQ(CSensor_UpdateCalibrationSections(doc), 0);

    long days = 0; // the count itself decides the calibration state's cases
    EXPECT_FALSE(CSensor_DaysSinceDate("2024-01-10", LocalDay(20, 2, 2024), days));
}

TEST_F(SensorTip, HeadCurveCapabilitiesAndSimulation) {
    MIniData doc;
    CSensorHeadCurve curve;
    doc.SetContentString("[force]\nmin=0\nmax=1\nstep=0.25\ny0=0\ny1=1\ny2=2\ny3=3\ny4=5\n");
    ASSERT_TRUE(sensor.ReadHeadCurve(doc, curve, 1.0));
    EXPECT_EQ(curve.values, (std::vector<double>{0, 1, 2, 3, 5}));
    double deflection = 0.0;
    ASSERT_TRUE(curve.DeflectionForForce(4.0, deflection));
    EXPECT_DOUBLE_EQ(deflection, 0.875);

    vyx::trace::TraceCapture capture;
    doc.SetContentString("[force]\nmin=0\nmax=1\nstep=0.25\ny0=0\ny1=1\ny3=-3\ny4=5\n");
    EXPECT_FALSE(sensor.ReadHeadCurve(doc, curve, 1.0));
    EXPECT_FALSE(curve.valid);
    EXPECT_EQ(Entry(doc, "force", "y2"), "1");
    EXPECT_EQ(Entry(doc, "force", "y3"), "0"); // below the bound of a positive direction
    EXPECT_EQ(capture.CountErrLog("ReadHeadCurve(): CSensor - Section [force]: ivalid value y2"),
              1);
    EXPECT_EQ(capture.CountErrLog("ReadHeadCurve(): CSensor - Section [force] read failed"), 1);
    EXPECT_EQ(sensor.Codes(), "32");

    const std::pair<const char*, const char*> broken[] = {
        {"[force]\nmin=0\nmax=1\n", "missing 'step'"},
        {"[force]\nmin=1\nmax=1\nstep=1\n", "min >= max"},
        {"[force]\nmin=0\nmax=1\nstep=0\n", "malloc() failed"}};
    for (const auto& [text, message] : broken) {
        doc.SetContentString(text);
        EXPECT_FALSE(sensor.ReadHeadCurve(doc, curve, 0.0)) << text;
        EXPECT_EQ(capture.CountErrLog(std::string("ReadHeadCurve(): CSensor - Section [force]: ") +
                                      message),
                  1)
            << text;
    }
    doc.SetContentString("[other]\n");
    EXPECT_TRUE(sensor.ReadHeadCurve(doc, curve, 0.0));
    EXPECT_FALSE(curve.valid);

    // The head curve read with the tip limits the force.
    ASSERT_TRUE(sensor.Install("[General]\nChannels=force,forcetol,forcedir,deflection\n"
                               "[Default]\nAccess=RW\nMin=0\nMax=10\n"));
    ASSERT_TRUE(sensor.SetPropertyValue("force", 8.0));
    ASSERT_TRUE(sensor.SetPropertyValue("forcetol", 2.0));
    EXPECT_EQ(sensor.Value("forcetol"), 0.0); // no simulation: always 0
    ASSERT_TRUE(sensor.SetUserData("[Geometry]\nz0=-50\n[force]\nmin=0\nmax=1\nstep=0.5\n"
                                   "y0=0\ny1=2\ny2=4\n"));
    EXPECT_EQ(sensor.Value("force"), 4.0);
    EXPECT_EQ(sensor.GetPropertyTable().at("force").max, 4.0);

    ASSERT_TRUE(sensor.Install("[General]\nChannels=gain,gi,gv\n[Default]\nAccess=RW\nMax=10\n"
                               "[gi]\nAccess=I\n[gv]\nV_Max=5\n"));
    doc.SetContentString("[capabilities]\ngain.max=20\ngain.min=2\ngain.default=50\n"
                         "gi.max=20\ngv.max=20\n");
    EXPECT_EQ(sensor.ReadCapabilities(doc), 1);
    const CSensorChannelTable& table = sensor.GetPropertyTable();
    EXPECT_EQ(table.at("gain").max, 20.0);
    EXPECT_EQ(table.at("gain").min, 2.0);
    EXPECT_EQ(table.at("gi").max, 10.0); // access I
    EXPECT_EQ(table.at("gv").max, 10.0); // v_max above 0
    EXPECT_EQ(sensor.Value("gain"), 20.0);
    EXPECT_EQ(Entry(doc, "capabilities", "gain.default"), "20");
    std::string processed;
    sensor.GetPropertyData(processed);
    EXPECT_EQ(Entry(processed, "gain", "Max"), "20");

    // Deflection simulation settings are completed.
    doc.SetContentString("[Simulation]\nMode=SINE\nAmplitude=0.2\n");
    EXPECT_EQ(sensor.ReadDeflectionSimulation(doc), 6);
    EXPECT_TRUE(sensor.GetSimulation().on);
    EXPECT_EQ(Entry(doc, "Simulation", "DutyCycle"), "50");
    doc.SetContentString("[Geometry]\n");
    EXPECT_EQ(sensor.ReadDeflectionSimulation(doc), 0);
    EXPECT_FALSE(sensor.GetSimulation().on);
}
