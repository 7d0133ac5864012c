#include "mt_proxy/camera/mmachabstract/mcameramachabstract.h"

#include "lintel/server/commands/moutputchannel.h"
#include "mt_proxy/camera/misc/mcameraglobals.h"

#include <gtest/gtest.h>

#include <cmath>

TEST(MCameraMachAbstract, ConstructionSetsTheProcessWideValues) {
    MOutputChannel channel(0);
    MCameraMachAbstract machine("Vyxcamera", "/srv/lintel", &channel, nullptr);
    EXPECT_EQ(machine.GetDirectory(), "/srv/lintel/camera");
    EXPECT_EQ(MCameraGlobals_GetConfigDir(), "/srv/lintel/camera");
    EXPECT_EQ(MCameraGlobals_GetCounterFrequency(), 1e9);

    // A later machine takes over the process-wide directory.
    MCameraMachAbstract second("Vyxcamera", "/srv/other", &channel, nullptr);
    EXPECT_EQ(MCameraGlobals_GetConfigDir(), "/srv/other/camera");
}

TEST(MCameraMachAbstract, AnswersBeforeOpen) {
    MOutputChannel channel(0);
    MCameraMachAbstract machine("Vyxcamera", "/srv/lintel", &channel, nullptr);
    EXPECT_EQ(machine.GetSensorName(), "");
    EXPECT_EQ(machine.GetSensorSerialNo(), "");
    EXPECT_FALSE(machine.HasPreview());
    EXPECT_FALSE(machine.HasPreviewMemory());
    EXPECT_FALSE(machine.HasImageFifos());
    EXPECT_EQ(machine.FirstAxis(), nullptr);
    EXPECT_EQ(machine.FindAxis("time"), nullptr);
    EXPECT_EQ(machine.FirstComponent(), nullptr);
    EXPECT_EQ(machine.NextComponent(), nullptr);
    EXPECT_EQ(machine.FindComponent("probe.tip"), nullptr);
    EXPECT_EQ(machine.FirstImageFifo(), nullptr);
    EXPECT_EQ(machine.GetActiveImageFifo(), nullptr);
    EXPECT_TRUE(std::isnan(machine.GetAxisValue("time")));
    EXPECT_FALSE(machine.IsAutoinfoRunning());

    // Nothing can be brought into service yet: Open says so and the machine stays closed.
    EXPECT_FALSE(machine.Open());
    EXPECT_FALSE(machine.HasImageFifos());
    EXPECT_FALSE(machine.IsCommandEnabled("MMachGetCommand"));
    EXPECT_TRUE(machine.Close());

    machine.PollAsyncErrors(); // no camera error: nothing to send
    EXPECT_TRUE(channel.IsEmpty());
}

TEST(MCameraMachAbstract, IsTimeOnly) {
    MCameraMachAbstract machine("Vyxcamera", "/srv/lintel", nullptr, nullptr);
    EXPECT_TRUE(machine.IsTimeOnly({}));
    EXPECT_TRUE(machine.IsTimeOnly({{"time", {2.0, 1}}}));
    EXPECT_FALSE(machine.IsTimeOnly({{"x", {2.0, 0}}}));
    EXPECT_FALSE(machine.IsTimeOnly({{"time", {2.0, 1}}, {"x", {1.0, 0}}}));
    EXPECT_FALSE(machine.IsTimeOnly({{"Time", {2.0, 1}}}));
}
