// The probe manager with the sensors of the module on the simulated camera.

#include "csensor/sensors/cprobeconfigdb.h"
#include "csensor/sensors/cprobemanager.h"
#include "csensor/sensors/csensorregistry.h"
#include "mt_proxy/camera/misc/mcamerasensors.h"
#include "platform/trace/tracecapture.h"
#include "tests/mt_proxy/camera/camerasensortestutil.h"

// The test's own manager lets go of the camera when the test's body ends, before the fixture
// looks at it.
using ProbeManagerCamera = cameratest::CameraSensorTest;

// The camera machine's tests store and restore the properties through the probe manager; a
// damaged store is for this test alone.
TEST_F(ProbeManagerCamera, SensorsRegisteredOnceAndACorruptedBlobFailsCleanly) {
    MCameraSensors_Register();
    MCameraSensors_Register(); // again: nothing changes
    const auto entries = CSensorRegistry_GetEntries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].first + "," + entries[1].first, "Vyxcamera,unloaded");

    ASSERT_TRUE(vyx::test::WriteFileBytes(dir.File("camprobedb.ini"),
                                          "[Camera]\r\nPROPERTIES=W0dlbmVyYWxd*Cg==\r\n"));
    ASSERT_TRUE(vyx::test::WriteFileBytes(dir.File("vyxcamera.ini"), "[SimCamera]\n"));
    vyx::trace::TraceCapture capture;
    // As the camera machine opens it: sensors first, then the database.
    CProbeManager manager;
    manager.InitSensors(0.001);
    ASSERT_TRUE(manager.Open(dir.Path(), "camprobedb.ini", 0.001));
    camera = dynamic_cast<CSensorVyxCamera*>(manager.GetSensors().front());
    ASSERT_NE(camera, nullptr);
    const char line[] =
        "CProbeConfigDB::ReadData(): stl_decode_base64() failed at [Camera] PROPERTIES=";
    EXPECT_EQ(capture.CountErrTrace(line), 1) << capture.Dump();
    EXPECT_EQ(camera->GetPropertyTable().at("light_intensity").max, 100.0); // the template's
    std::string text;
    ASSERT_TRUE(manager.GetConfigDB()->GetStringEntry("Camera", "PROPERTIES", text));
    EXPECT_EQ(text, "W0dlbmVyYWxd*Cg=="); // left for the operators to repair
}
