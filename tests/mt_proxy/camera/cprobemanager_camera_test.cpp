// The probe manager with the sensors of the module on the simulated camera.

#include "csensor/sensors/cprobeconfigdb.h"
#include "csensor/sensors/cprobemanager.h"
#include "csensor/sensors/csensorregistry.h"
#include "mt_proxy/camera/misc/mcamerasensors.h"
#include "platform/trace/tracecapture.h"
#include "tests/mt_proxy/camera/camerasensortestutil.h"

namespace {

// Probe properties as the "probe.config" component brings them.
const char kProperties[] = "[General]\nChannels=gain,light_intensity\n[Default]\nAccess=RW\n"
                           "[light_intensity]\nMax=40\n[Camera]\ngain=2\n";

class ProbeManagerCamera : public cameratest::CameraSensorTest {
protected:
    void SetUp() override {
        CameraSensorTest::SetUp();
        MCameraSensors_Register();
    }
    void TearDown() override {
        manager.reset(); // lets go of the camera
        CameraSensorTest::TearDown();
    }
    // As the camera machine opens it: sensors first, then the database.
    bool Open(const std::string& simSection = "") {
        vyx::test::WriteFileBytes(dir.File("vyxcamera.ini"), "[SimCamera]\n" + simSection);
        manager = std::make_unique<CProbeManager>();
        manager->InitSensors(0.001);
        const bool opened = manager->Open(dir.Path(), "camprobedb.ini", 0.001);
        camera = dynamic_cast<CSensorVyxCamera*>(manager->GetSensors().front());
        return opened && camera;
    }
    std::string List() {
        std::string list;
        EXPECT_TRUE(manager->GetProbesystemList(list));
        return list;
    }

    std::unique_ptr<CProbeManager> manager;
};

} // namespace

TEST_F(ProbeManagerCamera, EmptyDirectoryThenReopen) {
    MCameraSensors_Register(); // again: nothing changes
    const auto entries = CSensorRegistry_GetEntries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].first + "," + entries[1].first, "Vyxcamera,unloaded");
    ASSERT_TRUE(Open());
    EXPECT_STREQ(camera->GetSensorClass(), "Camera");
    CSensor* placeholder = manager->FindSensor("unloaded");
    EXPECT_EQ(manager->GetSensor(), placeholder);
    EXPECT_EQ(List(), "Camera:1 ");
    const std::string file = vyx::test::ReadFileBytes(dir.File("camprobedb.ini"));
    EXPECT_NE(file.find("[HARDWARE]\r\nMC="), std::string::npos) << file;
    EXPECT_NE(file.find("probesystem.total=Camera:1 \r\n"), std::string::npos) << file;

    ASSERT_TRUE(manager->SetProbesystem("[Geometry]\nProbeType=Camera:1\nx0=0\ny0=0\nz0=0\n"));
    EXPECT_EQ(manager->GetSensor(), camera);
    std::string hardware;
    ASSERT_TRUE(manager->GetHardwareData(hardware));
    EXPECT_EQ(cameratest::Entry(hardware, "Camera", "img_width"), "1280");
    // What the camera machine does with "probe.config": apply, then store under the class.
    ASSERT_TRUE(manager->SetProbeProperties(kProperties));
    EXPECT_EQ(Value("gain"), 2.0);
    ASSERT_TRUE(manager->ConfigDBWrite(camera->GetSensorClass(), "PROPERTIES", kProperties));
    std::string stored;
    ASSERT_TRUE(manager->ConfigDBRead("Camera", "PROPERTIES", stored));
    EXPECT_EQ(stored, kProperties);
    ASSERT_TRUE(manager->SetProbesystem("[Geometry]\nx0=0\ny0=0\nz0=0\n"));
    EXPECT_EQ(manager->GetSensor(), placeholder);

    // A new manager on the same directory: the camera starts with the stored properties.
    manager.reset();
    ASSERT_TRUE(Open());
    EXPECT_EQ(camera->GetPropertyTable().at("light_intensity").max, 40.0);
    EXPECT_EQ(camera->GetPropertyTable().at("light_intensity").access, CSENSOR_ACCESS_RW);
    EXPECT_EQ(Value("gain"), 2.0);
    EXPECT_EQ(List(), "Camera:1 ");
}

TEST_F(ProbeManagerCamera, CorruptedBlobFailsCleanly) {
    ASSERT_TRUE(vyx::test::WriteFileBytes(dir.File("camprobedb.ini"),
                                          "[Camera]\r\nPROPERTIES=W0dlbmVyYWxd*Cg==\r\n"));
    vyx::trace::TraceCapture capture;
    ASSERT_TRUE(Open());
    const char line[] =
        "CProbeConfigDB::ReadData(): stl_decode_base64() failed at [Camera] PROPERTIES=";
    EXPECT_EQ(capture.CountErrTrace(line), 1) << capture.Dump();
    EXPECT_EQ(camera->GetPropertyTable().at("light_intensity").max, 100.0); // the template's
    std::string text;
    ASSERT_TRUE(manager->GetConfigDB()->GetStringEntry("Camera", "PROPERTIES", text));
    EXPECT_EQ(text, "W0dlbmVyYWxd*Cg=="); // left for the operators to repair
}
