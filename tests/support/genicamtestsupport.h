#pragma once
// Helpers of the tests that drive a GenICam camera through the camera library: whether the
// back end is built, and the configuration that chooses one of Aravis's test cameras.

#include <gtest/gtest.h>

#include <string>

namespace vyx::test {

// The build has the GenICam back end (Aravis was found).
bool GenicamBuilt();

// A "vyxcamera.ini" text whose [GenICam] section chooses the device; Aravis's test cameras do
// not tell their pixel size, so the section gives one. extra adds lines ("key = value\n").
std::string GenicamIni(const std::string& device, const std::string& extra = "");

// Pixel size the section above gives, in mm.
constexpr double kFakePixelMm = 0.0055;

} // namespace vyx::test

// Skips the test, visibly, where the build has no GenICam back end.
#define VYX_SKIP_WITHOUT_GENICAM()                                                                 \
    do {                                                                                           \
        if (!vyx::test::GenicamBuilt())                                                            \
            GTEST_SKIP() << "GenICam back end not built: Aravis 0.8 (libaravis-dev) is missing; "  \
                            "scripts/deps installs it";                                            \
    } while (0)
