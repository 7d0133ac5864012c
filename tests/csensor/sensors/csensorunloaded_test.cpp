// The placeholder sensor: no channels, takes everything, answers no value question.

#include "csensor/sensors/csensorunloaded.h"

#include <gtest/gtest.h>

TEST(SensorUnloaded, AcceptsEverythingAndHasNoValues) {
    std::unique_ptr<CSensor> sensor = CSensorUnloaded::Create();
    auto* unloaded = dynamic_cast<CSensorUnloaded*>(sensor.get());
    ASSERT_NE(unloaded, nullptr);
    EXPECT_STREQ(sensor->GetSensorClass(), "unloaded");
    EXPECT_STREQ(unloaded->GetSensorTypeList(), "unloaded");
    EXPECT_EQ(sensor->GetState(), CSENSOR_STATE_READY);

    EXPECT_TRUE(sensor->SetPropertyValue("anything", 1.0));
    EXPECT_TRUE(sensor->SetPropertyValue(CSensorValueMap{{"x", 1.0}, {"gain", 2.0}}));
    EXPECT_TRUE(sensor->SetConfigData("not ini ["));
    EXPECT_TRUE(sensor->SetUserData("[Geometry]\nx0=5\n"));
    CSensorChannelDesc desc;
    EXPECT_TRUE(sensor->SetPropertyData(3, &desc));
    std::string text = "old";
    EXPECT_TRUE(sensor->GetHardwareData(text));
    EXPECT_EQ(text, "");
    EXPECT_EQ(sensor->GetPropertyCount(), 0u);

    double value = 0.0, x = 0.0, y = 0.0, z = 0.0;
    EXPECT_FALSE(sensor->GetPropertyValue("x", &value));
    EXPECT_FALSE(sensor->SetPropertyFifoAddress(0, &value));
    EXPECT_FALSE(sensor->GetProbeDirection(&x, &y, &z));
    EXPECT_FALSE(sensor->HasErrors());
}
