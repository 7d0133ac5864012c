#include "mt_proxy/camera/mmachabstract/mcameramachabstract.h"

#include "lintel/server/commands/moutputchannel.h"
#include "mt_proxy/camera/misc/mcameraglobals.h"
#include "tests/support/testsupport.h"

#include <gtest/gtest.h>

TEST(MCameraMachAbstract, ConstructionSetsTheProcessWideValues) {
    MOutputChannel channel(0);
    MCameraMachAbstract machine("Vyxcamera", "/srv/lintel", &channel, nullptr);
    // The host's directory, the platform's separator, "camera".
    const std::string camera = std::string("/srv/lintel") + vyx::test::kSeparator + "camera";
    EXPECT_EQ(machine.GetDirectory(), camera);
    EXPECT_EQ(MCameraGlobals_GetConfigDir(), camera);
    EXPECT_EQ(MCameraGlobals_GetCounterFrequency(), 1e9);
    // A later machine takes over the process-wide directory.
    MCameraMachAbstract second("Vyxcamera", "/srv/other", &channel, nullptr);
    EXPECT_EQ(MCameraGlobals_GetConfigDir(),
              std::string("/srv/other") + vyx::test::kSeparator + "camera");
}

TEST(MCameraMachAbstract, IsTimeOnly) {
    MCameraMachAbstract machine("Vyxcamera", "/srv/lintel", nullptr, nullptr);
    EXPECT_TRUE(machine.IsTimeOnly({}));
    EXPECT_TRUE(machine.IsTimeOnly({{"time", {2.0, 1}}}));
    EXPECT_FALSE(machine.IsTimeOnly({{"x", {2.0, 0}}}));
    EXPECT_FALSE(machine.IsTimeOnly({{"time", {2.0, 1}}, {"x", {1.0, 0}}}));
    EXPECT_FALSE(machine.IsTimeOnly({{"Time", {2.0, 1}}}));
}
