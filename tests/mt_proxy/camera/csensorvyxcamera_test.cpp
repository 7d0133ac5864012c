// The camera sensor on the simulated camera: finding and identifying the camera, channels and
// their limits, settings and geometry read back from the camera, the hardware data, starting
// and stopping the acquisition.

#include "mt_proxy/camera/misc/csensorcamera.h"
#include "platform/trace/tracecapture.h"
#include "tests/mt_proxy/camera/camerasensortestutil.h"

using namespace cameratest;
using vyx::trace::TraceCapture;

using CameraSensor = CameraSensorTest;

TEST_F(CameraSensor, FoundIdentifiedOfTheRightClassOrNoneWithoutAWorkingCamera) {
    TraceCapture capture;
    ASSERT_NE(Create("SerialNumber = SN-42\nProductVersion = 3.2\nDllVersion = 7.1\n"
                     "DriverVersion = 4.4\nCpldVersion = 0.9\nBootloaderVersion = 1.7\n"
                     "FpgaVersion = 5.5\nFrameRate = 40\nExposure = 12.5\nGain = 2\n"),
              nullptr)
        << capture.Dump();
    ASSERT_NE(dynamic_cast<CSensorCamera*>(camera), nullptr);
    ExpectHardware("manufacturer=Vyx devicename=VX1280M-SIM serialnumber=SN-42 productversion=3.2 "
                   "dllversion=7.1 driverversion=4.4 cpldversion=0.9 bootloaderversion=1.7 "
                   "fpgaversion=5.5 img_width=1280 img_height=1024 mem_width=1280 "
                   "mem_height=1024 mem_bpp=1 bits_per_pixel=8 px_fmt=2 arrange=0 clip_x=0 "
                   "clip_y=0 clipsize_x=1280 clipsize_y=1024 framerate=40 shutter=12.5 gain=2 "
                   "px_width_mm=0.0061199999999999996");

    // Items left out of the self-description; text beyond ASCII (two, three and four bytes in
    // UTF-8) comes through unchanged; a 10-bit pixel format.
    const std::string name = "Kamera-\xC3\x9C-\xE2\x82\xAC-\xF0\x9D\x84\x9E";
    ASSERT_NE(Create("InfoOmit = serialnumber, fpgaversion, manufacturer\nPixelFormat = 4\n"
                     "DeviceName = " +
                     name + "\n"),
              nullptr);
    EXPECT_EQ(camera->GetName(), name);
    EXPECT_STREQ(camera->GetSerialNo(), "unknown");
    EXPECT_EQ(camera->GetIdentity().manufacturer, "unknown");
    ExpectHardware("fpgaversion=<unknown> mem_bpp=2 bits_per_pixel=10");
    EXPECT_EQ(CSensorVyxCamera_GetBitsPerPixel(77), 8u);
    EXPECT_EQ(capture.CountErrLog("GetBitsPerPixel(): unknown format 77"), 1);

    // The fibre camera (its own tests) from another maker gets no fibre sensor.
    ASSERT_NE(Create("Model = fibre\nManufacturer = Other\n"), nullptr);
    EXPECT_NE(dynamic_cast<CSensorCamera*>(camera), nullptr);
    sensor.reset();

    // No sensor without a working camera.
    Vyx::SimControl::SetConnected(false);
    EXPECT_EQ(Create(""), nullptr);
    EXPECT_EQ(capture.CountErrTrace("GetInstance(): CImgSensors::GetInstance() failed"), 1);
    Vyx::SimControl::SetConnected(true);

    // The camera library's reason comes first in the chain.
    EXPECT_EQ(Create("Connected = 0\n"), nullptr);
    const std::string chain = capture.Dump();
    EXPECT_LT(chain.find("Initialize(): no camera connected"),
              chain.find("GetInstance(): failed to initialise camera device"))
        << chain;
    EXPECT_EQ(capture.CountErrTrace("GetInstance(): failed to initialise camera device"), 1);

    // Someone else has the camera open: no sensor, and the camera stays open.
    Vyx::CImgSensors* open = Vyx::CImgSensors::GetInstance();
    ASSERT_GT(open->Initialize(nullptr, 0), 0);
    EXPECT_EQ(Create(""), nullptr);
    EXPECT_EQ(capture.CountErrTrace("GetInstance(): camera already initialised"), 1);
    EXPECT_TRUE(Vyx::SimControl::GetState().initialised);
    ASSERT_TRUE(open->Uninitialize(0));

    const std::pair<Vyx::SimCall, const char*> failures[] = {
        {Vyx::SimCall::Register, "GetInstance(): RegisterImgStreamInput() failed"},
        {Vyx::SimCall::GetCameraInfo, "GetInstance(): get_camera_info() failed"},
        {Vyx::SimCall::GetImageInfo, "CSensorVyxCamera(): GetImageInfo() failed"}};
    for (const auto& [call, message] : failures) {
        Vyx::SimControl::SetCallFailure(call, true);
        EXPECT_EQ(Create(""), nullptr) << message;
        EXPECT_EQ(capture.CountErrTrace(message), 1) << capture.Dump();
        // Whatever failed, the camera is closed again for the next try.
        EXPECT_FALSE(Vyx::SimControl::GetState().initialised) << message;
        Vyx::SimControl::SetCallFailure(call, false);
    }
    EXPECT_EQ(capture.CountErrLog("get_camera_info(): camera does not identify itself"), 1);
    EXPECT_EQ(capture.CountErrTrace("GetInstance(): failed to construct sensor"), 1);

    EXPECT_EQ(Create("CameraInfo = <Info><Item key=\"manufacturer\"\n"), nullptr);
    EXPECT_EQ(capture.CountErrTrace("get_camera_info(): LoadFromString() failed: "), 1);
}

TEST_F(CameraSensor, ChannelsWithTheCameraLimitsGeometryAndAMovableYOffsetForPartialScan) {
    ASSERT_NE(Create("ClipWidthMin = 32\nClipWidthInc = 16\nClipHeightMin = 12\n"
                     "ClipHeightInc = 4\n"),
              nullptr);
    EXPECT_EQ(camera->GetPropertyCount(), 10u);
    const struct {
        const char* name;
        double min, max, step, accuracy;
        uint32_t access;
    } channels[] = {
        {"imagewidth", 32, 1280, 16, 1, CSENSOR_ACCESS_R},
        {"imageheight", 12, 1024, 4, 1, CSENSOR_ACCESS_RW},
        {"imageoffsetx", 0, 0, 8, 1, CSENSOR_ACCESS_R}, // the full frame cannot move
        {"temp_camera", 0, 50, 1, 0.01, CSENSOR_ACCESS_R},
        {"light_trigger_mode", 0, 7, 1, 1, CSENSOR_ACCESS_D},
    };
    for (const auto& c : channels) {
        SCOPED_TRACE(c.name);
        CSensorChannelDesc d;
        ASSERT_TRUE(camera->GetPropertyData(c.name, &d));
        EXPECT_EQ(std::tie(d.min, d.max, d.step, d.accuracy, d.access),
                  std::tie(c.min, c.max, c.step, c.accuracy, c.access));
    }
    EXPECT_EQ(Value("temp_camera"), 0.0);

    // The image geometry, aligned and read back.
    EXPECT_FALSE(camera->IsPropertyListChanged());
    // 481 with min 12, max 1024 and step 4: 480 + (1024 mod 4).
    ASSERT_TRUE(Set({{"imagewidth", 640.0}, {"imageheight", 481.0}}));
    EXPECT_EQ(std::make_tuple(Value("imagewidth"), Value("imageheight"), Value("imageoffsetx")),
              std::make_tuple(640.0, 480.0, 0.0));
    // The region is centred; the camera's largest image stays.
    ExpectHardware("clip_x=320 clip_y=272 clipsize_x=640 clipsize_y=480 img_width=1280");
    EXPECT_EQ(Vyx::SimControl::GetState().scanningMode, Vyx::ScanMode_Partial);

    // The offsets may now move the region: their changed descriptions wait to be taken.
    ASSERT_TRUE(camera->IsPropertyListChanged());
    CSensorChannelTable changed;
    ASSERT_TRUE(camera->TakeChangedProperties(changed));
    ASSERT_EQ(changed.size(), 2u);
    EXPECT_EQ(changed["imageoffsetx"].min, -320.0);
    EXPECT_EQ(changed["imageoffsety"].max, 272.0);
    EXPECT_FALSE(camera->IsPropertyListChanged());

    ASSERT_TRUE(Set({{"imageoffsetx", 96.0}, {"imageoffsety", -50.0}}));
    EXPECT_EQ(Value("imageoffsetx"), 96.0);
    EXPECT_EQ(Value("imageoffsety"), -50.0);
    ExpectHardware("clip_x=416 clip_y=222 clipsize_x=640"); // offsets alone keep the size
    // Off the camera's x step (8): aligned to the position the camera takes; beyond the
    // frame: the region stops at the edge on either side.
    const std::tuple<double, double, const char*> offsets[] = {
        {101.9, 96, "clip_x=416"}, {10000, 320, "clip_x=640"}, {-10000, -320, "clip_x=0"}};
    for (const auto& [offset, taken, clipX] : offsets) {
        ASSERT_TRUE(Set({{"imageoffsetx", offset}}));
        EXPECT_EQ(Value("imageoffsetx"), taken) << offset;
        ExpectHardware(clipX);
    }

    TraceCapture capture;
    ASSERT_TRUE(Set({{"imagewidth", 5000.0}, {"imageheight", 1024.0}}));
    EXPECT_EQ(Value("imagewidth"), 1280.0);
    EXPECT_EQ(Vyx::SimControl::GetState().scanningMode, Vyx::ScanMode_FullFrame);

    Vyx::SimControl::SetCallFailure(Vyx::SimCall::SetClippingRegion, true);
    EXPECT_FALSE(Set({{"imagewidth", 640.0}}));
    EXPECT_EQ(capture.CountErrTrace("change_image_geometry(): SetClippingRegion() failed"), 1);
    EXPECT_EQ(capture.CountErrTrace("SetPropertyValue(): change_image_geometry() failed"), 1);
    EXPECT_EQ(Value("imagewidth"), 1280.0);
    Vyx::SimControl::SetCallFailure(Vyx::SimCall::SetClippingRegion, false);

    ASSERT_NE(
        Create("TemperatureSensor = 0\nHeight = 1022\nClipHeightMin = 10\nClipHeightInc = 4\n"),
        nullptr);
    EXPECT_EQ(camera->GetPropertyCount(), 9u);
    EXPECT_FALSE(camera->HasProperty("temp_camera"));
    // Sizes are aligned to "max minus a multiple of the step": 480 + (1022 mod 4).
    ASSERT_TRUE(Set({{"imageheight", 481.0}}));
    EXPECT_EQ(Value("imageheight"), 482.0);
    double value = 0.0;
    EXPECT_FALSE(camera->GetPropertyValue("zoom", &value));
    EXPECT_EQ(capture.CountErrTrace("GetPropertyValue(): unknown property zoom"), 1);

    // A table update naming a channel the camera lacks fails with error 32 alone; the known
    // channel of the same data is updated all the same.
    while (camera->HasErrors())
        camera->GetErrorCode();
    EXPECT_FALSE(camera->SetPropertyData("[General]\nChannels=gain,bogus\n[gain]\nMax=9\n"));
    std::vector<uint32_t> codes;
    while (camera->HasErrors())
        codes.push_back(camera->GetErrorCode());
    EXPECT_EQ(codes, std::vector<uint32_t>{32});
    EXPECT_EQ(camera->GetPropertyTable().at("gain").max, 9.0);
    // Nor is a value array left over from the base's default channels.
    EXPECT_EQ(camera->GetPropertyValueAddress("gain"), nullptr);
    EXPECT_EQ(camera->GetQuickAccess(CSensorBase::kU), nullptr);

    // A partial-scan camera gets a movable y offset.
    ASSERT_NE(Create("DeviceName = TR3390c\n"), nullptr);
    const char data[] = "[General]\nChannels=imageoffsety\n[imageoffsety]\nAccess=R\n";
    ASSERT_TRUE(camera->SetPropertyData(data));
    CSensorChannelDesc d;
    ASSERT_TRUE(camera->GetPropertyData("imageoffsety", &d));
    EXPECT_EQ(d.access, CSENSOR_ACCESS_RW);
    // Data that sets the channel's accuracy says what it wants and is taken as it is.
    ASSERT_TRUE(camera->SetPropertyData(std::string(data) + "Accuracy=1\n"));
    ASSERT_TRUE(camera->GetPropertyData("imageoffsety", &d));
    EXPECT_EQ(d.access, CSENSOR_ACCESS_R);
}

TEST_F(CameraSensor, SettingsConfigurationReceiversAndAcquisition) {
    ASSERT_NE(Create("Model = standard\nMode = manual\n"), nullptr);
    // Disabled channels (the template's default) never reach the camera.
    ASSERT_TRUE(Set({{"gain", 5.0}, {"framerate", 20.0}}));
    EXPECT_EQ(std::make_tuple(Value("gain"), Value("framerate")), std::make_tuple(0.0, 50.0));

    ASSERT_TRUE(EnableSettings());
    const CSensorValueMap settings = {{"gain", 6.0},
                                      {"shutter", 20.0},
                                      {"framerate", 25.0},
                                      {"light_intensity", 40.0},
                                      {"light_trigger_mode", 3.0}};
    ASSERT_TRUE(Set(settings));
    for (const auto& [name, value] : settings)
        EXPECT_EQ(Value(name.c_str()), value) << name;
    ExpectHardware("framerate=25 gain=6");

    // A value the camera refuses fails that setting only; the loop goes on.
    TraceCapture capture;
    EXPECT_FALSE(Set({{"gain", 99.0}, {"shutter", 30.0}}));
    EXPECT_EQ(capture.CountErrTrace("SetPropertyValue(): SetGain(99) failed"), 1);
    EXPECT_EQ(std::make_tuple(Value("gain"), Value("shutter")), std::make_tuple(6.0, 30.0));
    // Setting values alone leaves the clipping region alone.
    EXPECT_EQ(capture.CountTrace("change_image_geometry()"), 0);

    Vyx::SimControl::SetCallFailure(Vyx::SimCall::GetTriggerMode, true);
    double value = 0.0;
    EXPECT_FALSE(camera->GetPropertyValue("light_trigger_mode", &value));
    EXPECT_EQ(
        capture.CountErrTrace("CSensorVyxCamera::GetPropertyValue(): GetTriggerMode() failed"), 1);
    Vyx::SimControl::SetCallFailure(Vyx::SimCall::GetTriggerMode, false);

    // [Camera] "gain" and "shutter" of property data go to the camera.
    ASSERT_TRUE(
        camera->SetPropertyData("[General]\nChannels=gain\n[Camera]\ngain=3\nshutter=15\n"));
    EXPECT_EQ(std::make_tuple(Value("gain"), Value("shutter")), std::make_tuple(3.0, 15.0));

    // Configuration data names the probe type.
    EXPECT_FALSE(camera->SetConfigData("[Geometry]\nx0=1\n"));
    EXPECT_EQ(capture.CountErrLog("SetConfigData(): entry ProbeType [Geometry] not found"), 1);
    ASSERT_TRUE(camera->SetConfigData("[Geometry]\nProbeType=Camera:1\n"));

    // A probe tip's capabilities reach the camera too.
    ASSERT_TRUE(EnableSettings());
    ASSERT_TRUE(camera->SetUserData("[capabilities]\ngain.default=4\ngain.max=10\n"));
    EXPECT_EQ(Value("gain"), 4.0);
    EXPECT_EQ(camera->GetPropertyTable().at("gain").max, 10.0);

    // Image receivers: flag 0 adds, 1 removes the one of that callback and context.
    FrameRecorder first, second;
    CImageReceiver a = first.Receiver(), b = second.Receiver();
    ASSERT_TRUE(camera->SetPropertyData(0, &a));
    ASSERT_TRUE(camera->SetPropertyData(0, &b));
    EXPECT_FALSE(camera->SetPropertyData(2, &a));
    EXPECT_EQ(capture.CountErrTrace("SetPropertyData(): unknown flag 2"), 1);
    EXPECT_FALSE(camera->SetPropertyData(0, nullptr));
    EXPECT_EQ(capture.CountErrTrace("SetPropertyData(): no image receiver given"), 1);
    ASSERT_TRUE(camera->SetPropertyData(1, &b));
    EXPECT_FALSE(camera->SetPropertyData(1, &b));
    EXPECT_EQ(capture.CountErrTrace("SetPropertyData(): image receiver not registered"), 1);
    ASSERT_TRUE(camera->SetPropertyData(1, &a));

    // Starting and stopping the acquisition; stopping what never started changes nothing.
    EXPECT_TRUE(camera->SetMeasurement(false));
    EXPECT_EQ(capture.CountTrace("calling Freeze()"), 0);

    ASSERT_TRUE(camera->SetMeasurement(true));
    EXPECT_TRUE(Vyx::SimControl::GetState().grabbing);
    ASSERT_TRUE(Set({{"gain", 5.0}, {"imagewidth", 640.0}}));
    ASSERT_TRUE(camera->SetMeasurement(false));
    EXPECT_FALSE(camera->IsMeasuring());
    EXPECT_FALSE(Vyx::SimControl::GetState().grabbing);

    // Whatever changed the camera in between, the next start sets the saved values again.
    Vyx::CImgSensors* raw = Vyx::CImgSensors::GetInstance();
    ASSERT_TRUE(raw->SetGain(1.0, 0));
    ASSERT_TRUE(raw->SetClippingRegion(0, 0, 0, 0, 0));
    ASSERT_TRUE(camera->SetMeasurement(true));
    EXPECT_EQ(Value("gain"), 5.0);
    Vyx::CImageInfo info;
    ASSERT_TRUE(raw->GetImageInfo(&info, 0));
    EXPECT_EQ(std::make_tuple(info.clipWidth, info.clipX), std::make_tuple(640u, 320));
    ASSERT_TRUE(camera->SetMeasurement(false));

    Vyx::SimControl::SetCallFailure(Vyx::SimCall::Grab, true);
    EXPECT_FALSE(camera->SetMeasurement(true));
    EXPECT_EQ(capture.CountErrTrace(
                  "CSensorVyxCamera::SetMeasurement(): failed to start image aquisition"),
              1);
    EXPECT_FALSE(camera->IsMeasuring());
}
