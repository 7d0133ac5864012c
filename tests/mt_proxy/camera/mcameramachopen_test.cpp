// Opening and closing the camera machine: configuration directory, axes, components,
// commands, the stored probesystem, and every failure that can be provoked from outside.

#include "tests/mt_proxy/camera/machinetestutil.h"

#include "mt_proxy/camera/misc/mcameraglobals.h"
#include "mt_proxy/camera/mmachabstract/mcameraconfigdir.h"
#include "platform/trace/tracecapture.h"
#include "platform/vyx/simcontrol.h"

#include <cmath>
#include <filesystem>
#include <sstream>

using namespace machinetest;

class CameraMachineOpen : public CameraMachineTest {};

TEST_F(CameraMachineOpen, RegistersAxesComponentsAndCommandsInAFolderOfTheCamerasOwn) {
    // The folder (named after the camera and its serial number) is the reopen test's.
    MCameraMachAbstract& machine = OpenMachine();
    EXPECT_EQ(MCameraGlobals_GetConfigDir(), host.File("camera")); // where the camera reads
    EXPECT_TRUE(machine.HasPreview() && machine.HasPreviewMemory());
    EXPECT_EQ(machine.GetActiveProbesystem(), "");
    EXPECT_EQ(MachineChannel(), "");

    // The ten fixed axes first (indexes 0 to 9), then the camera's channels, not available
    // until a camera probesystem is loaded.
    // One line per axis in table order: name, index, flags, minimum, maximum, accuracy, step.
    std::ostringstream axes;
    axes.precision(17);
    for (const MMachAxis* axis = machine.FirstAxis(); axis != nullptr; axis = machine.NextAxis())
        axes << axis->name << ' ' << axis->index << ' ' << axis->flags << ' ' << axis->minimum
             << ' ' << axis->maximum << ' ' << axis->accuracy << ' ' << axis->step << '\n';
    EXPECT_EQ(axes.str(), "clock 2 2 0 1.8446744073709552e+19 1 1\n"
                          "framerate 10 18 0 0 0 0\n"
                          "gain 11 18 0 0 0 0\n"
                          "imageheight 12 18 0 0 0 0\n"
                          "imageindex 1 2 0 1.8446744073709552e+19 1 1\n"
                          "imageoffsetx 13 18 0 0 0 0\n"
                          "imageoffsety 14 18 0 0 0 0\n"
                          "imagewidth 15 18 0 0 0 0\n"
                          "init 9 2 0 1 1 1\n"
                          "light_intensity 16 18 0 0 0 0\n"
                          "light_trigger_mode 17 18 0 0 0 0\n"
                          "lock 3 18 0 1 1 1\n"
                          "probe 6 2 0 1000 1 1\n"
                          "scanstep 8 6 0 100 0 9.9999999999999995e-07\n"
                          "shutter 18 18 0 0 0 0\n"
                          "temp_camera 0 16 0 50 0.01 1\n"
                          "time 4 2 0 1.7976931348623157e+308 0 1\n"
                          "tip 7 2 0 200 1 1\n"
                          "trigger_count 5 2 0 4294967295 1 1\n");
    EXPECT_TRUE(std::isnan(machine.GetAxisValue("nosuch")));

    std::ostringstream components;
    for (auto* c = machine.FirstComponent(); c != nullptr; c = machine.NextComponent())
        components << c->first << ' ' << c->second.version << ' ' << c->second.flags << '\n';
    EXPECT_EQ(components.str(), "probe.config 1.00-0 3\nprobe.hardware 1.00-0 1\n"
                                "probe.tip 1.00-0 3\nprobesystems.config 1.00-00 3\n");
    EXPECT_EQ(machine.FindComponent("probe"), nullptr);

    for (const char* name : {"MMachGetCommand", "MMachImagefifoInfoCommand", "MMachScanCommand",
                             "MMachProbesystemTypeCommand", "MMachSetCommand"})
        EXPECT_TRUE(machine.IsCommandEnabled(name)) << name;
    EXPECT_FALSE(machine.IsCommandEnabled("MMachInitCommand"));
}

TEST_F(CameraMachineOpen, ReopenRestoresProbesystemProbeTipAndProperties) {
    MCameraMachAbstract& first = OpenMachine();
    LoadCamera();
    // The same machine opened again finds its folder and its probesystem.
    ASSERT_TRUE(first.Close());
    ASSERT_TRUE(first.Open());
    EXPECT_EQ(first.GetDirectory(), ConfigDir());
    EXPECT_EQ(first.GetActiveProbesystem(), "Camera:1");
    ASSERT_EQ(Run(&Machine::NewMMachProbeDefineCommand, 3, 2, {{"d", 4.0}}), "");
    ASSERT_EQ(Run(&Machine::NewMMachProbeLoadCommand, 3, 2),
              "0000\tevent \"probesystem changed\"\r\n");
    ASSERT_EQ(Send("probe.config",
                   "[General]\nChannels=light_intensity\n[light_intensity]\nAccess=RW\nMax=40\n"),
              "");
    CloseMachine();

    MCameraMachAbstract& again = OpenMachine();
    EXPECT_EQ(again.GetActiveProbesystem(), "Camera:1");
    EXPECT_EQ(again.GetActiveProbesystemId(), 1u);
    EXPECT_EQ(again.GetAxisValue("probe"), 3.0);
    EXPECT_EQ(again.GetAxisValue("tip"), 2.0);
    EXPECT_DOUBLE_EQ(again.get_zoom(), 0.25); // the tip's zoom reached the sensor's data
    EXPECT_EQ(again.FindAxis("gain")->flags, MMachAxis::kUnavailable); // access "D" by default
    EXPECT_EQ(again.FindAxis("light_intensity")->maximum, 40.0);       // the stored properties
    EXPECT_EQ(again.FindAxis("imageheight")->flags, 6u);
    EXPECT_DOUBLE_EQ(again.FindAxis("time")->accuracy, 0.02);
    // Opening reports the changed time accuracy on the machine's channel.
    EXPECT_EQ(MachineChannel(), kCapabilities);
}

TEST_F(CameraMachineOpen, StoredProbesystemThatCannotBeLoadedFallsBackToUnloaded) {
    OpenWithCamera();
    CloseMachine();
    // The camera is replaced by none: the machine works in the host's camera folder, which
    // holds the databases of the old camera.
    for (const char* file : {"probesystemdb.ini", "volatile_probesystemdb.ini", "Camera_1_1.ini"})
        std::filesystem::copy_file(ConfigDir() + "/" + file, host.File("camera/") + file);
    WriteCameraConfig("Connected=0\n");
    vyx::trace::TraceCapture capture;
    MCameraMachAbstract& machine = OpenMachine();
    EXPECT_EQ(machine.GetDirectory(), host.File("camera"));
    EXPECT_EQ(MachineChannel(), "0000\terror \"internal error\"\r\n");
    EXPECT_EQ(capture.CountErrLog("Open(): set_active_probesystem(Camera:1, 1, NULL) failed"), 1)
        << capture.Dump();
    EXPECT_EQ(capture.CountErrLog("failed to get instance of Vyxcamera"), 1);
    EXPECT_EQ(machine.GetActiveProbesystem(), "");
    EXPECT_TRUE(machine.IsCommandEnabled("MMachGetCommand"));
    EXPECT_EQ(Run(&Machine::NewMMachProbesystemLoadCommand, "Camera:1", 1),
              "0007\terror \"internal error\"\r\n");
}

TEST_F(CameraMachineOpen, FailuresAreReportedAndLeaveNothingOpenOrMade) {
    // None of these fails Open or the commands: the machine goes on without what failed.
    const std::pair<std::function<void()>, const char*> cases[] = {
        {[&] { std::filesystem::create_directories(ConfigDir() + "/camprobedb.ini/x"); },
         "Open(): m_ProbeConfigDB.Open() failed"},
        {[&] { vyx::test::WriteFileBytes(host.File("camera/VX1280M-SIM"), "not a folder"); },
         "create_config_dir(): failed to create"},
        {[&] { WriteCameraConfig("Connected=0\n"); }, "failed to get instance of Vyxcamera"},
    };
    for (const auto& [prepare, logged] : cases) {
        SCOPED_TRACE(logged);
        std::filesystem::remove_all(host.File("camera"));
        WriteCameraConfig("");
        prepare();
        vyx::trace::TraceCapture capture;
        MCameraMachAbstract& machine = OpenMachine();
        EXPECT_EQ(MachineChannel(), "");
        EXPECT_EQ(capture.CountErrLog(logged), 1) << capture.Dump();
        EXPECT_TRUE(machine.IsCommandEnabled("MMachGetCommand"));
        machine.Close();
        machine.Close(); // a second Close is harmless
        this->machine.reset();
        EXPECT_FALSE(Vyx::SimControl::GetState().initialised);
    }
    // Without a camera, and no host folder yet, no folder is made.
    std::filesystem::remove_all(host.File("camera"));
    Vyx::SimControl::SetConnected(false);
    EXPECT_EQ(OpenMachine().GetDirectory(), host.File("camera"));
    EXPECT_FALSE(vyx::test::PathExists(host.File("camera")));
}

TEST_F(CameraMachineOpen, SettingsFileChoosesTheRingBufferVariant) {
    for (const auto& [settings, wants64] : {std::pair{"", false},
                                            {"[General]\r\nAlways64Bit=0\r\n", false},
                                            {"[General]\r\nAlways64Bit=1\r\n", true}}) {
        SCOPED_TRACE(settings);
        std::filesystem::create_directories(ConfigDir());
        if (*settings != '\0')
            vyx::test::WriteFileBytes(ConfigDir() + "/vyxcamera.ini", settings);
        OpenWithCamera();
        const std::string fifo = vyx::test::UniqueName("vyxmach");
        ASSERT_EQ(FifoCreate(fifo, 4 << 20), "");
        const MMachImagefifo* record = machine->FindImageFifo(fifo);
        ASSERT_NE(record, nullptr);
        EXPECT_EQ(record->ringBuffer64 != nullptr, wants64);
        EXPECT_EQ(record->ringBuffer32 != nullptr, !wants64);
        CloseMachine();
        std::filesystem::remove_all(host.File("camera/VX1280M-SIM"));
    }
}

TEST(CameraConfigDir, NewFolderIsSeededFromAnOldInstallation) {
    struct Case {
        std::vector<const char*> installations; // folders below the old root; * has camera/
        const char* seededFrom;                 // nullptr: nothing copied
    };
    const Case cases[] = {
        {{"a", "b*", "c*"}, "b"},
        {{"m0000_08*", "n*"}, "n"},  // several: the 0000_08 installation is passed over
        {{"m0000_08x*", "n*"}, "n"}, // ... also with one more character
        {{"m0000_08*"}, "m0000_08"}, // alone it is used
        {{"a", "b"}, nullptr},
    };
    for (const Case& c : cases) {
        vyx::test::TempDir root;
        for (std::string name : c.installations) {
            const bool hasCamera = name.back() == '*';
            name.resize(name.size() - hasCamera);
            std::filesystem::create_directories(root.File("old/" + name) +
                                                (hasCamera ? "/camera/sub" : ""));
            if (hasCamera)
                vyx::test::WriteFileBytes(root.File("old/" + name + "/camera/probesystemdb.ini"),
                                          name);
        }
        const std::string target = root.File("machines/m1/camera/cam/serial");
        std::filesystem::create_directories(target);
        EXPECT_TRUE(copy_old_config_dir(target, root.File("old")));
        const std::string copied = vyx::test::ReadFileBytes(target + "/probesystemdb.ini");
        EXPECT_EQ(copied, c.seededFrom != nullptr ? c.seededFrom : "") << c.installations[0];
        EXPECT_FALSE(vyx::test::PathExists(target + "/sub")); // files only
    }
    // create_config_dir looks into the installations beside the host's folder, four levels up,
    // the host's own among them: its databases from before cameras had folders of their own
    // are taken over. An existing folder is left as it is.
    vyx::test::TempDir root;
    std::filesystem::create_directories(root.File("m1/camera"));
    vyx::test::WriteFileBytes(root.File("m1/camera/camprobedb.ini"), "old");
    EXPECT_TRUE(create_config_dir(root.File("m1/camera/cam/serial")));
    EXPECT_EQ(vyx::test::ReadFileBytes(root.File("m1/camera/cam/serial/camprobedb.ini")), "old");
    vyx::test::WriteFileBytes(root.File("m1/camera/cam/serial/camprobedb.ini"), "mine");
    EXPECT_TRUE(create_config_dir(root.File("m1/camera/cam/serial")));
    EXPECT_EQ(vyx::test::ReadFileBytes(root.File("m1/camera/cam/serial/camprobedb.ini")), "mine");
}
