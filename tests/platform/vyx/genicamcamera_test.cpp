// The camera library's GenICam back end on Aravis's in-process test camera ("Fake_1"): the
// choice by [GenICam], identity and limits from the device's features, settings set and read
// back, the clipping region, what a GenICam camera refuses, and frames from a Grab. On the
// GigE Vision test camera: the stream set up as configured, and a camera that goes.

#include "platform/vyx/cstreamstatistics.h"
#include "tests/platform/vyx/simtestsupport.h"
#include "tests/support/genicamtestsupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <functional>
#include <string>

using ::testing::HasSubstr;
using namespace vyx::test;

namespace {

class GenicamCamera : public vyx::test::CameraIniTest {
protected:
    Vyx::CImgSensors* Open(const std::string& extra = "") {
        return OpenIni(GenicamIni("Fake_1", extra));
    }
};

using GenicamConfiguration = GenicamCamera;
using GenicamCameraConcurrency = GenicamCamera;

} // namespace

TEST_F(GenicamConfiguration, WrongSectionsAreRefusedWithFileAndKey) {
    // Read before anything is loaded: these hold in builds without Aravis too. Lines after
    // "device = Fake_1" unless the case gives its own sections.
    const struct {
        const char* lines;
        const char* message;
        const char* sections = nullptr;
    } cases[] = {
        {"", "[GenICam] device is missing", "[GenICam]\n"},
        {"colour = 1\n", "[GenICam] unknown key colour"},
        {"buffers = 1\n", "buffers \"1\" must lie in 2..64"},
        {"pixel_format = BayerRG8\n",
         "pixel_format \"BayerRG8\" is not taken: Mono8, Mono10, Mono12 or Mono16"},
        {"pixel_width_mm = 0.005\n", "give both pixel_width_mm and pixel_height_mm"},
        {"pixel_height_mm = -1\npixel_width_mm = 1\n",
         "pixel_height_mm \"-1\" must be a number above 0"},
        {"incomplete = dropped\n", "incomplete \"dropped\" must be broken or lost"},
        {"Device = Fake_1\n", "unknown key Device (keys are lower case: device)"},
        {"packet_socket = on\n", "packet_socket \"on\" must be auto or off"},
        {"packet_size = 9000.5\n", "packet_size \"9000.5\" must be auto or bytes in 64..65535"},
        {"socket_buffer = 1000\n", "socket_buffer \"1000\" must be auto or at least 4096 bytes"},
        {"packet_resend = yes\n", "packet_resend \"yes\" must be on or off"},
        // Section names are case-sensitive: this one would choose the simulated camera.
        {"",
         "[Genicam] is not a section of the camera library; a GenICam camera is chosen by "
         "[GenICam]",
         "[SimCamera]\n[Genicam]\ndevice = Fake_1\n"},
    };
    for (const auto& c : cases) {
        const std::string ini =
            c.sections ? c.sections : "[GenICam]\ndevice = Fake_1\n" + std::string(c.lines);
        SCOPED_TRACE(ini);
        EXPECT_EQ(Initialize(ini), -2);
        EXPECT_THAT(Error(), ::testing::AllOf(HasSubstr(c.message), HasSubstr(path)));
    }
    // Without the section the simulated camera opens as always.
    ASSERT_EQ(Initialize("[SimCamera]\nWidth = 640\n[Other]\ndevice = Fake_1\n"), 1);
    EXPECT_EQ(InfoOf(camera).memoryWidth, 640u);
}

TEST_F(GenicamConfiguration, ABuildWithoutTheBackEndSaysSo) {
    ::testing::FLAGS_gtest_death_test_style = "threadsafe";
    // In a child process of its own, which has not loaded the back end yet.
    EXPECT_EXIT(
        {
            setenv("VYX_GENICAM_LIBRARY", "/nonexistent/libvyx_genicam.so", 1);
            const bool refused = Initialize(GenicamIni("Fake_1")) == -1;
            const bool said = Error().find("asks for GenICam camera \"Fake_1\": GenICam is not "
                                           "available: cannot load "
                                           "/nonexistent/libvyx_genicam.so") != std::string::npos;
            _exit(refused && said ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(GenicamCamera, IdentityGeometryLimitsAndRegionFromTheDevice) {
    VYX_SKIP_WITHOUT_GENICAM();
    ASSERT_NE(Open(), nullptr);
    EXPECT_EQ(camera->Initialize(path.c_str(), 0), 0) << "already initialised";

    // Name, serial number, sizes, region and pixel size reach the camera sensor's tests; the
    // rest of the self-description and the limits are checked here.
    std::string xml;
    ASSERT_TRUE(camera->GetCameraInfo(&xml, 0));
    EXPECT_EQ(InfoItem(xml, L"genicampixelformat"), "Mono8");
    EXPECT_EQ(InfoItem(xml, L"driverversion"), "Aravis fake camera");
    EXPECT_EQ(InfoItem(xml, L"dllversion").rfind("Aravis 0.8.", 0), 0u) << xml;
    // Sizes 1..2048 in steps of 1; offsets that keep the smallest image on the sensor.
    EXPECT_EQ(vyx::test::ClippingLimits(camera),
              (std::vector<std::array<int32_t, 3>>{
                  {0, 2047, 1}, {0, 2047, 1}, {1, 2048, 1}, {1, 2048, 1}}));
    // The region is set on the camera, in its steps.
    ASSERT_TRUE(camera->SetClippingRegion(100, 40, 200, 120, 0)) << Error();
    EXPECT_EQ(ClipOf(camera), Clip(100, 40, 200, 120));

    EXPECT_FALSE(camera->SetClippingRegion(1900, 0, 200, 100, 0));
    EXPECT_EQ(Error(),
              "SetClippingRegion(): region 200x100+1900+0 lies outside the 2048x2048 sensor");
    EXPECT_FALSE(camera->SetClippingRegion(-1, 0, 200, 100, 0));
    EXPECT_EQ(ClipOf(camera), Clip(100, 40, 200, 120)) << "a refused region leaves the old one";
    // Width and height 0: the whole sensor.
    ASSERT_TRUE(camera->SetClippingRegion(0, 0, 0, 0, 0)) << Error();
    EXPECT_EQ(ClipOf(camera), Clip(0, 0, 2048, 2048));
    // No temperature, no light: only the partial read-out.
    std::set<int32_t> caps;
    ASSERT_TRUE(camera->GetImageMemoryCaps(&caps, 0));
    EXPECT_EQ(caps, std::set<int32_t>{Vyx::ImgCap_PartialScan});
    // No network, no packets to count.
    Vyx::CStreamStatistics stream;
    std::string why;
    EXPECT_FALSE(Vyx::CStreamStatistics::Read(&stream, &why));
    EXPECT_EQ(why, "camera Fake_1 is no GigE Vision camera: its stream has no packets");
}

TEST_F(GenicamCamera, SettingsInTheirRangesAndWhatHasNoCounterpart) {
    VYX_SKIP_WITHOUT_GENICAM();
    ASSERT_NE(Open(), nullptr);
    using Vyx::CImgSensors;
    ExpectSetting(&CImgSensors::SetGain, &CImgSensors::GetGain, 7, {11},
                  "SetGain(): 11 outside 0..10");
    // Milliseconds here, microseconds in the camera.
    ExpectSetting(&CImgSensors::SetExposure, &CImgSensors::GetExposure, 2.5, {0.001},
                  "SetExposure(): 0.001 ms outside 0.01..10000 ms");
    ExpectSetting(&CImgSensors::SetFrameRate, &CImgSensors::GetFrameRate, 40, {5000},
                  "SetFrameRate(): 5000 fps outside 0.1..1000 fps");

    for (int32_t wanted : {1, 0}) {
        int32_t mode = -1;
        ASSERT_TRUE(camera->SetTriggerMode(0, wanted, 0)) << Error();
        // A new frame rate leaves the trigger as it was.
        ASSERT_TRUE(camera->SetFrameRate(30, 0)) << Error();
        ASSERT_TRUE(camera->GetTriggerMode(0, &mode, 0));
        EXPECT_EQ(mode, wanted);
    }
    EXPECT_FALSE(camera->SetTriggerMode(0, 3, 0));
    EXPECT_THAT(Error(), HasSubstr("takes 0 (Off) and 1 (On)"));
    EXPECT_FALSE(camera->SetTriggerMode(1, 0, 0));
    EXPECT_EQ(Error(), "SetTriggerMode(): no light channel 1");

    EXPECT_TRUE(camera->SetScanningMode(Vyx::ScanMode_Partial, 0));
    EXPECT_FALSE(camera->SetScanningMode(3, 0));

    // What a GenICam camera has no counterpart for fails clearly.
    Vyx::CParamKR7700 param;
    double value = 0;
    const struct {
        std::function<bool()> call;
        const char* message;
    } cases[] = {
        {[&] { return camera->SetSmartParam(&param, 0); },
         "SetSmartParam(): camera Fake_1 is a GenICam camera, which has no parameter block"},
        {[&] { return camera->GetSmartParam(&param, 0); },
         "GetSmartParam(): camera Fake_1 is a GenICam camera, which has no parameter block"},
        {[&] { return camera->SetDataTransferVolume(1, 0); },
         "SetDataTransferVolume(1): camera Fake_1 is a GenICam camera, which has no transfer "
         "modes"},
        {[&] { return camera->SetLightIntensity(0, 50, 0); },
         "SetLightIntensity(): camera Fake_1 drives no light (name its feature as light in "
         "[GenICam])"},
        {[&] { return camera->GetLightIntensity(0, &value, 0); },
         "GetLightIntensity(): camera Fake_1 drives no light (name its feature as light in "
         "[GenICam])"},
        {[&] { return camera->FlashSettings(0); },
         "FlashSettings(): camera Fake_1 has no user set to save its settings in"},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(c.call()) << c.message;
        EXPECT_EQ(Error(), c.message);
    }

    // A light feature the camera does not have stops the start.
    camera->Uninitialize(0);
    EXPECT_EQ(Initialize(GenicamIni("Fake_1", "light = LightIntensity\n")), -1);
    EXPECT_THAT(Error(), HasSubstr("has no number feature LightIntensity for the light"));
    // So does a pixel size that neither the camera nor the configuration gives.
    EXPECT_EQ(Initialize("[GenICam]\ndevice = Fake_1\n"), -1);
    EXPECT_THAT(Error(),
                HasSubstr("camera Fake_1 does not tell its pixel size (no SensorPixelWidth and "
                          "SensorPixelHeight); give pixel_width_mm and pixel_height_mm in "
                          "[GenICam] of " +
                          path));
    // And a camera that is not there.
    EXPECT_EQ(Initialize(GenicamIni("Fake_9")), -1);
    EXPECT_THAT(Error(), HasSubstr("no GenICam camera \"Fake_9\""));
    EXPECT_FALSE(camera->SetGain(1, 0));
    EXPECT_EQ(Error(), "SetGain(): camera not initialised");
}

TEST_F(GenicamCameraConcurrency, GrabDeliversNumberedFramesOfTheRegionAndACallbackMayFreeze) {
    VYX_SKIP_WITHOUT_GENICAM();
    ASSERT_NE(Open("buffers = 4\n"), nullptr);
    ASSERT_TRUE(camera->SetClippingRegion(64, 32, 96, 48, 0)) << Error();
    ASSERT_TRUE(camera->SetFrameRate(100, 0));
    FrameSink sink(true);
    ASSERT_TRUE(GrabInto(sink)) << Error();
    EXPECT_TRUE(camera->Grab(0)) << "a second Grab changes nothing";
    ASSERT_TRUE(sink.WaitFor(20));
    // The buffers have the size of the running image.
    EXPECT_FALSE(camera->SetClippingRegion(64, 32, 128, 48, 0));
    EXPECT_THAT(Error(),
                HasSubstr("cannot change the image size from 96x48 to 128x48 while it acquires"));
    ASSERT_TRUE(camera->Freeze(0));
    const size_t frozen = sink.Count();

    // Counters, flags and time stamps of a stream are the camera sensor's tests'; here the
    // frame is the region the camera reads out, and a picture, not the buffer's zeros.
    std::vector<SeenFrame> frames = sink.Frames();
    ASSERT_GE(frames.size(), 20u);
    const SeenFrame& f = frames.back();
    EXPECT_EQ(std::tie(f.rowPitch, f.rows, f.offsetX, f.offsetY, f.clipWidth, f.clipHeight),
              std::make_tuple(96u, 48u, 0u, 0u, 96u, 48u));
    ASSERT_EQ(f.clip.size(), 96u * 48u);
    EXPECT_NE(std::count(f.clip.begin(), f.clip.end(), f.clip[0]), long(f.clip.size()));
    EXPECT_EQ(sink.Count(), frozen) << "no frame after Freeze";
    // A new Grab counts from 1 again, on a size the buffers did not have.
    ASSERT_TRUE(camera->SetClippingRegion(0, 0, 256, 200, 0)) << Error();
    ASSERT_TRUE(camera->Grab(0));
    ASSERT_TRUE(sink.WaitFor(frozen + 3));
    ASSERT_TRUE(camera->Freeze(0));
    frames = sink.Frames();
    EXPECT_EQ(frames[frozen].frameCounter, 1u);
    EXPECT_EQ(frames[frozen].clipWidth, 256u);
    EXPECT_EQ(frames[frozen].clip.size(), 256u * 200u);
    ASSERT_TRUE(camera->UnregisterImgStreamInput(&sink, FrameSink::Callback, 0));

    // A callback may freeze the camera: the third frame stops it from its own thread.
    ASSERT_TRUE(camera->SetFrameRate(200, 0));
    FreezingSink freezer(camera, 3);
    ASSERT_TRUE(camera->RegisterImgStreamInput(&freezer, FreezingSink::Callback, 0));
    ASSERT_TRUE(camera->Grab(0));
    ASSERT_TRUE(freezer.WaitFor(3));
    // A later Grab ends that stream and starts a new one; Freeze from here waits for it.
    ASSERT_TRUE(camera->Grab(0)) << Error();
    ASSERT_TRUE(freezer.WaitFor(5));
    ASSERT_TRUE(camera->Freeze(0));
    EXPECT_TRUE(freezer.frozen);
    frames = freezer.Frames();
    ASSERT_GE(frames.size(), 5u);
    EXPECT_EQ(frames[2].frameCounter, 3u);
    EXPECT_EQ(frames[3].frameCounter, 1u) << "nothing of the frozen stream after its third frame";
    ASSERT_TRUE(camera->UnregisterImgStreamInput(&freezer, FreezingSink::Callback, 0));
}

TEST_F(GenicamCameraConcurrency, GigEStreamSetUpAsConfiguredAndCounted) {
    std::string why = FakeGenicamCamera::Unavailable(FakeGenicamCamera::Kind::GigE);
    if (!why.empty())
        GTEST_SKIP() << why;
    FakeGenicamCamera fake;
    ASSERT_TRUE(fake.Start(FakeGenicamCamera::Kind::GigE, why)) << why;
    Vyx::CStreamStatistics stream;
    const auto takeFrames = [&] {
        FrameSink sink;
        EXPECT_TRUE(GrabInto(sink)) << Error();
        const bool came = sink.WaitFor(5, std::chrono::seconds(60));
        EXPECT_TRUE(camera->Freeze(0));
        EXPECT_TRUE(camera->UnregisterImgStreamInput(&sink, FrameSink::Callback, 0));
        return came && Vyx::CStreamStatistics::Read(&stream, &why) && stream.receivedPackets > 0;
    };
    // By the id that vyxcam list shows, which discovery also finds through interfaces the
    // stream does not come over.
    ASSERT_NE(OpenIni(GenicamIni("Aravis-Fake-" + fake.Serial())), nullptr);
    EXPECT_FALSE(Vyx::CStreamStatistics::Read(&stream, &why));
    EXPECT_EQ(why, "camera Aravis-Fake-GV01 has not acquired since it opened");
    ASSERT_TRUE(takeFrames()) << why;
    EXPECT_EQ(stream.interfaceAddress, stream.cameraAddress);
    EXPECT_EQ(stream.setup, "packets of 1400 bytes (negotiated), packet socket where allowed, "
                            "socket buffer of one frame (262144 bytes), packet resend on");
    camera->Uninitialize(0);

    ASSERT_NE(OpenIni(fake.Ini("packet_socket = off\npacket_size = 4000\npacket_resend = off\n"
                               "socket_buffer = 1048576\n")),
              nullptr);
    ASSERT_TRUE(takeFrames()) << why;
    EXPECT_EQ(stream.setup, "packets of 4000 bytes (configured), packet socket off, socket "
                            "buffer 1048576 bytes, packet resend off");
    camera->Uninitialize(0);
    EXPECT_EQ(Initialize(fake.Ini("packet_size = 20000\n")), -1);
    EXPECT_THAT(Error(), HasSubstr("sends packets of 220..16404 bytes, not packet_size 20000"));

    // A camera that goes: once its heartbeat fails, calls fail at once instead of each waiting
    // for the network's time-out.
    ASSERT_NE(OpenIni(fake.Ini()), nullptr);
    fake.Stop();
    double gain = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (camera->GetGain(&gain, 0) || Error().find("stopped answering") == std::string::npos)
        ASSERT_LT(std::chrono::steady_clock::now(), deadline) << Error();
    EXPECT_FALSE(camera->SetFrameRate(10, 0));
    EXPECT_THAT(Error(), ::testing::MatchesRegex("SetFrameRate\\(\\): camera .* stopped answering "
                                                 "\\(control lost\\): is it off, .*"));
    EXPECT_TRUE(camera->Freeze(0));
    EXPECT_TRUE(camera->Uninitialize(0));
}
