#pragma once
// Concrete sensors for the tests: CSensor and CSensorBase are abstract.

#include "csensor/sensors/csensor.h"
#include "csensor/sensors/csensorbase.h"
#include "msl/mutil/minidata.h"
#include "platform/trace/tracecapture.h"
#include "tests/support/inientries.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <string_view>

namespace sensortest {

// What every test sensor adds to its base: a fresh channel set, and the error queue as text.
template <class Base> class Opened : public Base {
public:
    // Starts over with another channel set.
    bool Install(std::string_view text) {
        this->ClearPropertyTable();
        return this->SetPropertyData(text);
    }
    // Drains the error queue into a text such as "32,39".
    std::string Codes() {
        std::string codes;
        for (uint32_t code; (code = this->PopErrorCode()) != 0;)
            codes += (codes.empty() ? "" : ",") + std::to_string(code);
        return codes;
    }
};

// CSensor with the abstract operations answered trivially, and its protected helpers open.
class PlainSensor : public Opened<CSensor> {
public:
    int SearchComponent(const char*, std::string&) override { return 0; }
    std::string GetMcCompVectorName(size_t index) const override {
        return index == CSENSOR_COMPVECTOR_CB ? "vec_b" : "";
    }
    uint32_t GetMcInputNo() const override { return 0; }
    std::string GetTipComponentName() const override { return ""; }
    std::string GetCompensationName() const override { return ""; }
    std::string GetArmName() const override { return ""; }
    std::string GetTipName() const override { return ""; }
    std::string GetProbeType() const override { return ""; }
    double GetTipLength() const override { return 0.0; }
    bool SetFeatures(std::string_view) override { return true; }
    bool GetFeatures(std::string&) override { return true; }
    bool SetHardwareData(std::string_view) override { return true; }
    bool GetProbeDirection(double*, double*, double*) override { return false; }
    bool GetTipOffset(double*, double*, double*) override { return false; }
    bool GetPropertyValue(const char*, double*) override { return false; }
    bool GetPropertyValue(int, double*) override { return false; }
    using CSensor::SetPropertyValue;
    bool SetPropertyValue(const char* name, double value) override {
        lastSet += std::string(name) + "=" + std::to_string(static_cast<int>(value)) + ";";
        return HasProperty(name);
    }
    bool SetPropertyValue(int, double) override { return false; }
    bool GetPropertyOffset(const char*, double*) override { return false; }
    bool GetPropertyOffset(int, double*) override { return false; }
    bool SetPropertyOffset(const char*, double) override { return false; }
    bool SetPropertyOffset(int, double) override { return false; }
    bool SetPropertyFifoAddress(const char*, double*) override { return false; }
    bool SetPropertyFifoAddress(int, double*) override { return false; }
    double* GetPropertyRawAddress(const char*) override { return nullptr; }
    double* GetPropertyRawAddress(int) override { return nullptr; }
    bool Activate() override {
        SetActiveFlag(true);
        return true;
    }
    bool Deactivate() override {
        SetActiveFlag(false);
        return true;
    }
    void SetObjectLock(MBitmap2Double*) override {}
    void Register(const char* name) { RegisterComponent(name, ""); }

    std::string lastSet;
};

// CSensorBase as the simplest concrete sensor.
class BaseSensor : public Opened<CSensorBase> {
public:
    int32_t GetInterfaceLevel() const override { return 2; }
    const char* GetSensorTypeList() const override { return "R85Q:1"; }
    void Accept(std::string_view types) { SetAcceptedTypes(types); }
    double Value(const char* name) {
        double v = -12345.0;
        GetPropertyValue(name, &v);
        return v;
    }
};

// One of a sensor's documents as text, such as Doc(sensor, &CSensor::GetUserData).
template <class Sensor> std::string Doc(Sensor& sensor, bool (CSensor::*get)(std::string&)) {
    std::string text;
    (sensor.*get)(text);
    return text;
}

inline void ExpectDirection(CSensor& sensor, double x, double y, double z) {
    double d[3] = {9, 9, 9};
    ASSERT_TRUE(sensor.GetProbeDirection(&d[0], &d[1], &d[2]));
    EXPECT_NEAR(d[0], x, 1e-12);
    EXPECT_NEAR(d[1], y, 1e-12);
    EXPECT_NEAR(d[2], z, 1e-12);
}

// Each call must have failed and logged its line once, to the error log or the error trace.
inline void ExpectRefused(const vyx::trace::TraceCapture& capture,
                          std::initializer_list<std::pair<bool, const char*>> calls) {
    for (const auto& [result, line] : calls) {
        EXPECT_FALSE(result) << line;
        EXPECT_EQ(capture.CountErrLog(line) + capture.CountErrTrace(line), 1) << line;
    }
}

using vyx::test::Entry;
using vyx::test::ExpectEntries;

} // namespace sensortest
