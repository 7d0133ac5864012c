#pragma once
// Helpers of the tests that drive a GenICam camera through the camera library: whether the
// back end is built, and the configuration that chooses one of Aravis's test cameras.

#include "tests/support/fakegigecamera.h"

#include <gtest/gtest.h>

#include <string>

namespace vyx::test {

// A "vyxcamera.ini" text whose [GenICam] section chooses the device; Aravis's test cameras do
// not tell their pixel size, so the section gives one. extra adds lines ("key = value\n").
std::string GenicamIni(const std::string& device, const std::string& extra = "");

// One of Aravis's test cameras for a test: the one inside the process ("Fake_1"), or the GigE
// Vision one, a process of its own reached over a loopback address.
class FakeGenicamCamera {
public:
    enum class Kind { InProcess, GigE };

    // Why this build or machine cannot run the camera (a test skips then); empty when it can.
    static std::string Unavailable(Kind kind);
    // Ready to be opened through Ini(); false with the reason otherwise.
    bool Start(Kind kind, std::string& why, unsigned lossPerThousand = 0);
    void Stop() { m_gige.Stop(); }

    // The "vyxcamera.ini" text that chooses this camera; extra adds [GenICam] lines.
    std::string Ini(const std::string& extra = "") const;
    // Its serial number, as the camera tells it.
    std::string Serial() const { return m_kind == Kind::GigE ? "GV01" : "1"; }
    static const char* Name(Kind kind) { return kind == Kind::GigE ? "GigE" : "InProcess"; }

private:
    Kind m_kind = Kind::InProcess;
    FakeGigECamera m_gige;
};

} // namespace vyx::test

// Skips the test, visibly, where the build has no GenICam back end.
#define VYX_SKIP_WITHOUT_GENICAM()                                                                 \
    do {                                                                                           \
        using vyx::test::FakeGenicamCamera;                                                        \
        if (std::string why = FakeGenicamCamera::Unavailable(FakeGenicamCamera::Kind::InProcess);  \
            !why.empty())                                                                          \
            GTEST_SKIP() << why;                                                                   \
    } while (0)
