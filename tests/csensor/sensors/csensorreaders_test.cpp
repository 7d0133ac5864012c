#include "csensor/sensors/csensorerrors.h"
#include "platform/trace/tracecapture.h"
#include "sensortestutil.h"

#include <gtest/gtest.h>

using sensortest::BaseSensor;
using sensortest::Doc;
using sensortest::Entry;
using sensortest::ExpectDirection;
using sensortest::ExpectEntries;

namespace {

const char kMcDescription[] = "[GENERAL]\nInput=2\n"
                              "[Input_1]\ntype=Form,QPD\nzeroshift_mm=1.\nrange=2\n"
                              "range_1_mm=1.0\nrange_2_mm=0.1\nCompVectorName=va, vb\n"
                              "[Input_2]\ntype=Form\n"
                              "[Input_3]\ntype=SwitchingProbe\ndamping_s=0.05\n";

} // namespace

TEST(SensorConfigReaders, MissingKeysValuesLimitsTypesDirectionHardwareInputsAndComponentVectors) {
    BaseSensor sensor;
    ASSERT_TRUE(sensor.SetConfigData("[Geometry]\nProbeType=R85Q\n")) << sensor.Codes();
    std::string config = Doc(sensor, &CSensor::GetConfigData);
    ExpectEntries(config, "Geometry", "x0=0 y0=0 z0=0 alpha=0 beta=0 gamma=0");
    ExpectEntries(config, "ProbeSystem",
                  "ProbeSystem=R85Q ProbeChannel=0 ProbeSign=1 SerialNo=0000 Transparent=0 "
                  "TypeLever=0 DefaultStylusLength_mm=50 Range=1 RangeTSK=1 dE_Faktor=1 "
                  "LockLimitMaxPercent=100 LockLimitMinPercent=100 Mtx_a11=1 Mtx_a12=0 "
                  "Mtx_a33=1");
    EXPECT_EQ(Entry(Doc(sensor, &CSensor::GetHardwareData), "Probe", "Type"), "R85Q");

    // Complete data is read without a change.
    ASSERT_TRUE(sensor.SetConfigData(config));
    EXPECT_EQ(Doc(sensor, &CSensor::GetConfigData), config);

    // Features are the defaults of the readers.
    BaseSensor featured;
    ASSERT_TRUE(featured.SetFeatures("[ProbeSystem]\nRange=2.5\nDefaultStylusLength_mm=80\n"
                                     "SensorTypeMC=QPD\n"));
    ASSERT_TRUE(featured.SetConfigData("[Geometry]\nProbeType=R85Q\n"));
    ExpectEntries(Doc(featured, &CSensor::GetConfigData), "ProbeSystem",
                  "Range=2.5 DefaultStylusLength_mm=80");
    std::string features;
    ASSERT_TRUE(featured.GetFeatures(features));
    ExpectEntries(features, "ProbeSystem", "SensorTypeMC=QPD RangeTSK=1");
    EXPECT_FALSE(featured.SetFeatures("Range=1\n"));
    EXPECT_EQ(featured.Codes(), "32");

    ExpectDirection(sensor, 0.0, 0.0, 1.0);
    sensor.Accept("R85Q:1 TS640:7");
    ASSERT_TRUE(sensor.SetConfigData("[Geometry]\nProbeType=TS640\n[ProbeSystem]\n"
                                     "Range=2\nRangeTSK=0.5\nLockLimitMaxPercent=150\n"
                                     "LockLimitMinPercent=40\nSerialNo=A-17 ; label\n"));
    config = Doc(sensor, &CSensor::GetConfigData);
    EXPECT_EQ(Entry(config, "ProbeSystem", "LockLimitMaxPercent"), "100");
    // Collision limits: range times the lock limits, per measuring range.
    ExpectEntries(Doc(sensor, &CSensor::GetHardwareData), "TSK",
                  "Max_1=2 Min_1=-0.80000000000000004 Max_2=0.5 Min_2=-0.20000000000000001");

    EXPECT_FALSE(sensor.SetConfigData("[Geometry]\nProbeType=XYZ\n"));
    EXPECT_EQ(sensor.Codes(), "37");
    EXPECT_FALSE(sensor.SetConfigData("ProbeType=R85Q\n"));
    EXPECT_EQ(sensor.Codes(), "32");

    // Matrix: a quarter turn about x.
    ASSERT_TRUE(sensor.SetConfigData("[Geometry]\nProbeType=R85Q\n[ProbeSystem]\n"
                                     "Mtx_a22=0\nMtx_a23=-1\nMtx_a32=1\nMtx_a33=0\n"));
    ExpectDirection(sensor, 0.0, -1.0, 0.0);

    // Geometry data: beta 90 of the mounting.
    ASSERT_TRUE(sensor.SetConfigData("[Geometry]\nProbeType=R85Q\n"));
    ASSERT_TRUE(sensor.SetGeometryData("[Geometry]\nbeta=90\n"));
    ExpectDirection(sensor, 1.0, 0.0, 0.0);

    vyx::trace::TraceCapture capture;
    ASSERT_TRUE(sensor.SetHardwareProperties(kMcDescription));
    EXPECT_EQ(sensor.GetHardwareInputs()->nInput, 2u);
    std::string properties;
    sensor.GetHardwareProperties(properties);
    ExpectEntries(properties, "Input_2", "zeroshift_mm=0 range_1_mm=1 CompVectorName=<missing>");
    EXPECT_EQ(Entry(properties, "Input_3", "range"), "<missing>"); // beyond Input=2

    ASSERT_TRUE(sensor.SetConfigData("[Geometry]\nProbeType=R85Q\n"));
    EXPECT_EQ(sensor.GetMcCompVectorName(CSENSOR_COMPVECTOR_CA), ""); // no input configured
    ASSERT_TRUE(sensor.SetConfigData("[Geometry]\nProbeType=R85Q\n[ProbeSystem]\n"
                                     "ProbeChannel=1\n"));
    EXPECT_EQ(sensor.GetMcCompVectorName(CSENSOR_COMPVECTOR_CA) + "," +
                  sensor.GetMcCompVectorName(CSENSOR_COMPVECTOR_CB) + "," +
                  sensor.GetMcCompVectorName(CSENSOR_COMPVECTOR_CC),
              "va,vb,");

    ASSERT_TRUE(sensor.SetConfigData("[Geometry]\nProbeType=R85Q\n[ProbeSystem]\n"
                                     "ProbeChannel=5\n"));
    capture.Clear();
    EXPECT_EQ(sensor.GetMcCompVectorName(0), "");
    EXPECT_EQ(capture.CountErrLog("CSensorBase::GetMcCompVectorName(): channelno=5, "
                                  "m_MCHardware.nInput=2--> using default empty string"),
              1);
}
