#include "tests/platform/vyx/simtestsupport.h"

#include <cmath>
#include <cstdlib>
#include <string>

using namespace Vyx;
using ::testing::HasSubstr;
using namespace vyx::test;

// The default camera's identity, geometry, capabilities and settings reach the camera sensor's
// tests in full; here what the sensor never asks: calls outside the camera's life, and the
// files it is configured from.
TEST_F(SimCameraTest, CallsOutsideTheCamerasLifeAndTheEnvironmentsFile) {
    camera = CImgSensors::GetInstance();
    ASSERT_NE(camera, nullptr);
    double value = 0;
    EXPECT_FALSE(camera->GetGain(&value, 0));
    EXPECT_EQ(Error(), "GetGain(): camera not initialised");
    EXPECT_FALSE(camera->Uninitialize(0));
    // Opened twice: the camera sensor's test of a camera someone else has open.
    ASSERT_EQ(camera->Initialize(nullptr, 0), 1);
    EXPECT_TRUE(camera->Uninitialize(0));
    EXPECT_FALSE(camera->Grab(0));

    // A file named by the environment refines the machine file.
    const std::string machine = dir.File("machine.ini"), overrides = dir.File("env.ini");
    ASSERT_TRUE(
        WriteFileBytes(machine, "[SimCamera]\nWidth = 640\nHeight = 480\nFrameRate = 25\n"));
    ASSERT_TRUE(WriteFileBytes(overrides, "[SimCamera]\nFrameRate = 30\n"));
    vyx::test::SetEnvironment("VYX_SIMCAMERA_INI", overrides.c_str());
    ASSERT_EQ(camera->Initialize(machine.c_str(), 0), 1) << Error();
    ASSERT_TRUE(camera->GetFrameRate(&value, 0));
    EXPECT_EQ(InfoOf(camera).imageWidth, 640u);
    EXPECT_EQ(value, 30.0);
    EXPECT_EQ(SimControl::GetState().configFile, machine + ";" + overrides);
    camera->Uninitialize(0);

    // A Windows-style path to the machine file works too.
    vyx::test::SetEnvironment("VYX_SIMCAMERA_INI", nullptr);
    ASSERT_EQ(camera->Initialize((dir.Path() + "\\machine.ini").c_str(), 0), 1);
    EXPECT_EQ(InfoOf(camera).imageWidth, 640u);
    camera->Uninitialize(0);

    // A machine file that does not exist is no error; a named override that does not is.
    EXPECT_EQ(camera->Initialize(dir.File("absent.ini").c_str(), 0), 1);
    camera->Uninitialize(0);
    vyx::test::SetEnvironment("VYX_SIMCAMERA_INI", dir.File("absent.ini").c_str());
    EXPECT_LT(camera->Initialize(nullptr, 0), 0);
    EXPECT_THAT(Error(), HasSubstr("absent.ini: file not found"));
    EXPECT_FALSE(SimControl::GetState().initialised);
}

TEST_F(SimCameraTest, BadConfigurationIsRefusedWithTheReason) {
    const std::pair<const char*, const char*> cases[] = {
        {"FrameRate = fast\n", "FrameRate"},
        {"Width = 0\n", "Width"},
        {"Colour = red\n", "unknown key Colour"},
        {"Model = zoom\n", "Model"},
        {"FrameRate = 500\n", "FrameRate is outside"},
        {"GainMin = 5\nGainMax = 1\n", "GainMin is above"},
        {"PixelFormat = 99\nBytesPerPixel = 7\n", "BytesPerPixel"},
        {"ClipWidthInc = 7\n", "multiple of ClipWidthInc"},
        {"ClipX = 4\nClipWidth = 640\n", "steps"},
        {"DropFrames = 3-1\n", "bad range"},
        {"Stall = 5\n", "exposure:milliseconds"},
        {"DropEvery = 1\n", "DropEvery"},
        {"Model = fibre\nCIFMode = 9\n", "CIFMode"},
        {"just text\n", "not an entry"},
    };
    for (const auto& [section, reason] : cases) {
        SCOPED_TRACE(section);
        EXPECT_LT(Initialize(std::string("[SimCamera]\n") + section), 0);
        EXPECT_THAT(Error(), HasSubstr(reason));
        EXPECT_FALSE(SimControl::GetState().initialised);
    }
}

TEST_F(SimCameraTest, SettingsReadBackWithinLimits) {
    ASSERT_NE(Open("GainMax = 12\nExposureMax = 100\nFrameRateMax = 120\nLightMax = 80\n"
                   "TriggerModeMax = 5\n"),
              nullptr);
    const double nan = std::nan("");
    ExpectSetting(&CImgSensors::SetGain, &CImgSensors::GetGain, 6.5, {-0.5, 12.5, nan});
    ExpectSetting(&CImgSensors::SetExposure, &CImgSensors::GetExposure, 2.25, {0.001, 101, nan});
    ExpectSetting(&CImgSensors::SetFrameRate, &CImgSensors::GetFrameRate, 33.3, {0.5, 121, nan});
    EXPECT_THAT(Error(), HasSubstr("outside"));

    // Light and trigger read back through the camera sensor; here their bounds.
    int32_t mode = 0;
    EXPECT_TRUE(camera->SetLightIntensity(0, 80, 0));
    EXPECT_FALSE(camera->SetLightIntensity(0, 80.5, 0));
    EXPECT_FALSE(camera->SetLightIntensity(1, 10, 0)); // one light channel
    EXPECT_TRUE(camera->SetTriggerMode(0, 5, 0));
    EXPECT_FALSE(camera->SetTriggerMode(0, 6, 0));
    EXPECT_FALSE(camera->SetTriggerMode(0, -1, 0));
    ASSERT_TRUE(camera->GetTriggerMode(0, &mode, 0));
    EXPECT_EQ(mode, 5);
    EXPECT_FALSE(camera->GetTriggerMode(1, &mode, 0));
}

TEST_F(SimCameraTest, ClippingFollowsTheLimitsAndNoParameterBlock) {
    ASSERT_NE(Open(""), nullptr);
    EXPECT_EQ(vyx::test::ClippingLimits(camera),
              (std::vector<std::array<int32_t, 3>>{
                  {0, 1264, 8}, {0, 1016, 2}, {16, 1280, 8}, {8, 1024, 2}}));

    ASSERT_TRUE(camera->SetClippingRegion(320, 256, 640, 480, 0));
    EXPECT_EQ(ClipOf(camera), Clip(320, 256, 640, 480));
    EXPECT_EQ(InfoOf(camera).imageWidth, 1280u); // the sensor stays what it is

    // Off the sensor, negative, too small, off the steps: refused, region kept.
    const int32_t bad[][4] = {{648, 0, 640, 480}, {-8, 0, 640, 480}, {0, 0, 8, 480},
                              {4, 0, 640, 480},   {0, 0, 644, 480},  {0, 1, 640, 480},
                              {0, 0, 1288, 1024}, {0, 546, 640, 480}};
    for (const auto& r : bad) {
        EXPECT_FALSE(camera->SetClippingRegion(r[0], r[1], static_cast<uint32_t>(r[2]),
                                               static_cast<uint32_t>(r[3]), 0))
            << r[0] << "," << r[1] << " " << r[2] << "x" << r[3];
    }
    EXPECT_EQ(ClipOf(camera), Clip(320, 256, 640, 480));
    ASSERT_TRUE(camera->SetClippingRegion(0, 0, 0, 0, 0)); // 0: full frame
    EXPECT_EQ(ClipOf(camera), Clip(0, 0, 1280, 1024));
    // A parameter block only on the fibre camera.
    CParamKR7700 block;
    EXPECT_FALSE(camera->GetSmartParam(&block, 0));
    EXPECT_FALSE(camera->SetSmartParam(&block, 0));
}

TEST_F(SimCameraTest, FibrePresetItsParameterBlockAndAnEmptyItem) {
    ASSERT_NE(
        Open("Model = fibre\nQLimit = 0.25\nFpgaVersion =\nPixelWidthMm = 0.01 ; ten microns\n"),
        nullptr);
    std::string xml;
    ASSERT_TRUE(camera->GetCameraInfo(&xml, 0));
    EXPECT_EQ(InfoItem(xml, L"fpgaversion"), ""); // empty, not left out
    double w = 0, h = 0;
    EXPECT_EQ(camera->GetPixelSize(&w, &h, 0), 1);
    EXPECT_EQ(w, 0.01);
    EXPECT_EQ(h, 0.005859375); // the fibre preset's
    std::set<int32_t> caps;
    ASSERT_TRUE(camera->GetImageMemoryCaps(&caps, 0));
    EXPECT_EQ(caps.count(ImgCap_SmartParams), 1u);

    CParamKR7700 block;
    // Its round trip through the fibre sensor is tested there; here the blocks it refuses.
    ASSERT_TRUE(camera->GetSmartParam(&block, 0));
    EXPECT_EQ(block.QLimit, 0.25f);
    // A light out of range is the fibre sensor's test.
    CParamKR7700 bad = block;
    bad.DACRngMin = 2, bad.DACRngMax = 1;
    EXPECT_FALSE(camera->SetSmartParam(&bad, 0));
    bad = block;
    bad.LUT[5] = std::nanf("");
    EXPECT_FALSE(camera->SetSmartParam(&bad, 0));
    EXPECT_FALSE(camera->SetSmartParam(nullptr, 0));
    CParamKR7700 back;
    ASSERT_TRUE(camera->GetSmartParam(&back, 0));
    EXPECT_EQ(back.DACRngMax, block.DACRngMax); // unchanged by the refused blocks
    EXPECT_EQ(back.LUT[5], block.LUT[5]);
}

TEST_F(SimCameraTest, FlashedSettingsArePowerOnSettings) {
    // With a flash file they survive the process, parameter block included.
    double value = 0;
    std::string flash = dir.File("flash.ini");
    std::string section = "Model = fibre\nFlashFile = " + flash + "\n";
    ASSERT_NE(Open(section), nullptr);
    CParamKR7700 block;
    ASSERT_TRUE(camera->GetSmartParam(&block, 0));
    block.LUT[17] = 0.123456789f;
    block.CIFMode = 2;
    ASSERT_TRUE(camera->SetSmartParam(&block, 0));
    ASSERT_TRUE(camera->SetClippingRegion(16, 8, 320, 240, 0));
    ASSERT_TRUE(camera->SetExposure(0.5, 0));
    ASSERT_TRUE(camera->FlashSettings(0));
    EXPECT_THAT(vyx::test::ReadFileBytes(flash), HasSubstr("Exposure=0.5"));
    camera->Uninitialize(0);
    ASSERT_NE(Open(section), nullptr);
    CParamKR7700 back;
    ASSERT_TRUE(camera->GetSmartParam(&back, 0));
    EXPECT_EQ(back.LUT[17], 0.123456789f);
    EXPECT_EQ(back.CIFMode, 2);
    EXPECT_EQ(ClipOf(camera), Clip(16, 8, 320, 240));
    ASSERT_TRUE(camera->GetExposure(&value, 0));
    EXPECT_EQ(value, 0.5);
    camera->Uninitialize(0);

    // A damaged flash file stops the camera with the reason.
    std::string text = vyx::test::ReadFileBytes(flash);
    ASSERT_TRUE(vyx::test::WriteFileBytes(flash, text.substr(0, text.size() - 100)));
    EXPECT_LT(camera->Initialize(path.c_str(), 0), 0);
    EXPECT_THAT(Error(), HasSubstr("LUT"));

    // A flash that cannot be written fails and leaves nothing behind.
    ASSERT_NE(Open("FlashFile = " + dir.File("no/such/folder/flash.ini") + "\n"), nullptr);
    EXPECT_FALSE(camera->FlashSettings(0));
    EXPECT_FALSE(vyx::test::PathExists(dir.File("no")));
}
