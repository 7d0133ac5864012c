// Probe, probesystem, component and axis commands of the camera machine, through the machine
// interface: exact replies, the axes they change and the files they leave.
//
// To renew the golden files after a deliberate format change, run the test with
// VYX_MACHINE_GOLDEN_OUT set to a folder, check the files written there and copy them over.

#include "tests/mt_proxy/camera/machinetestutil.h"

#include "mt_proxy/camera/mmachabstract/mcameracommands.h"
#include "tests/mt_proxy/camera/camerasensortestutil.h"

#include <cmath>
#include <cstdlib>
#include <filesystem>

using namespace machinetest;
using cameratest::Entry;
using cameratest::ExpectEntries;

namespace {

std::map<std::string, std::string> Snapshot(const std::string& dir) {
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        if (entry.is_regular_file() && entry.path().filename().string()[0] != '.')
            files[entry.path().filename().string()] =
                vyx::test::ReadFileBytes(entry.path().string());
    return files;
}

const char kError16[] = "0007\terror \"internal error\"\r\n";
const char kProbesystemChanged[] = "0000\tevent \"probesystem changed\"\r\n";

} // namespace

class CameraMachineProbes : public CameraMachineTest {
protected:
    std::string Define(uint32_t probe, uint32_t tip, const std::map<std::string, double>& v) {
        return Run(&Machine::NewMMachProbeDefineCommand, probe, tip, v);
    }
    // The data of a "receive" that has no reply of its own; "<no command>" without a command.
    std::string Receive(const std::string& component) {
        MOutputChannel out(7);
        MMachReceiveCommand* command = machine->NewMMachReceiveCommand(&out, component);
        const std::string data = command != nullptr ? command->GetData() : "<no command>";
        EXPECT_EQ(Finish(command, out), "") << component;
        return data;
    }
    std::vector<double> Get(const std::vector<std::string>& names) {
        MOutputChannel out(7);
        auto* command = static_cast<MCameraGetCommand*>(machine->NewMMachGetCommand(&out, names));
        EXPECT_TRUE(command->IsDone());
        std::vector<double> values = command->GetValues();
        EXPECT_TRUE(command->IsDone()); // again: no further work, no line
        EXPECT_EQ(Finish(command, out), "");
        return values;
    }
};

TEST_F(CameraMachineProbes, SequenceGivesExactRepliesAxesAndFiles) {
    MCameraMachAbstract& m = OpenMachine();
    // Nothing to define probes in before a probesystem is loaded.
    EXPECT_EQ(Define(1, 1, {}), kError16);
    LoadCamera();
    // The next free id: 2.
    EXPECT_EQ(Run(&Machine::NewMMachProbesystemDefineCommand, "Camera:1"), "");
    EXPECT_EQ(Run(&Machine::NewMMachProbesystemLoadCommand, "Optic", 1), kError16);
    EXPECT_EQ(m.GetActiveProbesystem(), "Camera:1"); // the database kept the loaded one

    EXPECT_EQ(Define(1, 1, {{"x", 0.5}, {"d", 2.0}, {"ignored", 7.0}}), "");
    EXPECT_EQ(Define(1, 1, {}), kError16);    // already defined
    EXPECT_EQ(Define(1001, 1, {}), kError16); // beyond the largest probe number
    EXPECT_EQ(Run(&Machine::NewMMachProbeLoadCommand, 1, 1), kProbesystemChanged);
    EXPECT_EQ(Define(2, 3, {{"z", -1.25}}), ""); // keeps the active pair
    EXPECT_EQ(Get({"probe", "tip"}), (std::vector<double>{1, 1}));
    EXPECT_DOUBLE_EQ(m.get_zoom(), 0.5);
    EXPECT_EQ(Run(&Machine::NewMMachProbeChangeCommand, 2, 3), "");
    EXPECT_EQ(Get({"probe", "tip"}), (std::vector<double>{2, 3}));
    EXPECT_EQ(Run(&Machine::NewMMachProbeLoadCommand, 9, 9), kError16);
    EXPECT_EQ(Get({"probe", "tip"}), (std::vector<double>{2, 3}));
    EXPECT_EQ(Run(&Machine::NewMMachProbeDeleteCommand, 1, 1), "");
    EXPECT_EQ(Run(&Machine::NewMMachProbeDeleteCommand, 1, 1), kError16);
    EXPECT_EQ(Run(&Machine::NewMMachProbeUnloadCommand), kProbesystemChanged);
    EXPECT_EQ(Get({"probe", "tip"}), (std::vector<double>{0, 0}));
    EXPECT_EQ(m.get_zoom(), 0.0);
    EXPECT_EQ(Run(&Machine::NewMMachProbesystemDeleteCommand, "Camera:1", 2), "");
    EXPECT_EQ(Run(&Machine::NewMMachProbesystemDeleteCommand, "Camera:1", 2), kError16);
    EXPECT_EQ(m.FindAxis("lock")->flags, MMachAxis::kReadable);

    const auto files = Snapshot(m.GetDirectory());
    if (const char* out = std::getenv("VYX_MACHINE_GOLDEN_OUT"))
        for (const auto& [name, bytes] : files)
            vyx::test::WriteFileBytes(std::string(out) + "/" + name, bytes);
    EXPECT_EQ(files, Snapshot(VYX_MACHINE_GOLDEN_DIR)); // every file byte for byte, none more

    // Unloading: the camera's channels and "lock" are no longer available, the frame period
    // is gone from "time".
    EXPECT_EQ(Run(&Machine::NewMMachProbesystemUnloadCommand), kCapabilities);
    EXPECT_EQ(m.GetActiveProbesystem(), "");
    for (const char* axis : {"gain", "imagewidth", "temp_camera", "lock"})
        EXPECT_TRUE(m.FindAxis(axis)->flags & MMachAxis::kUnavailable) << axis;
    EXPECT_EQ(m.FindAxis("time")->accuracy, 0.0);
    EXPECT_EQ(Get({"lock"}), (std::vector<double>{0}));
}

TEST_F(CameraMachineProbes, GetAndSetAxes) {
    MCameraMachAbstract& m = OpenMachine();
    LoadCamera();
    std::vector<double> values = Get({"imagewidth", "nosuch", "init", "imageheight"});
    EXPECT_TRUE(std::isnan(values.at(1))); // an unknown axis
    values[1] = 0.0;
    EXPECT_EQ(values, (std::vector<double>{1280, 0, 1, 1024}));
    EXPECT_TRUE(Get({}).empty());

    // The camera's gain and shutter become settable through new probe properties.
    EXPECT_EQ(Send("probe.config", "[General]\nChannels=gain,shutter\n[Default]\nAccess=RW\n"
                                   "Min=0\nMax=1000\n"),
              "");
    EXPECT_EQ(m.FindAxis("gain")->flags, 6u);
    EXPECT_EQ(m.FindAxis("gain")->maximum, 1000.0);
    EXPECT_EQ(Set({{"gain", 3.0}, {"shutter", 5.0}}), "");
    EXPECT_EQ(Get({"gain", "shutter"}), (std::vector<double>{3, 5})); // read from the camera

    // An unknown axis fails the command; axes before it in name order keep their new value.
    EXPECT_EQ(Set({{"gain", 4.0}, {"nosuch", 1.0}, {"shutter", 6.0}}),
              "0007\terror \"invalid axis\"\r\n");
    EXPECT_EQ(m.GetAxisValue("gain"), 4.0);
    EXPECT_EQ(m.GetAxisValue("shutter"), 5.0);

    // A new frame rate changes the time axis' accuracy, once.
    EXPECT_EQ(Send("probe.config", "[General]\nChannels=framerate\n[framerate]\nAccess=RW\n"
                                   "Min=1\nMax=200\n"),
              "");
    EXPECT_EQ(Set({{"framerate", 25}}), kCapabilities);
    EXPECT_DOUBLE_EQ(m.FindAxis("time")->accuracy, 0.04);
    EXPECT_EQ(Set({{"framerate", 25}}), "");
    // A smaller image changes the channel descriptions that depend on it.
    EXPECT_EQ(Set({{"imageheight", 512}}), kCapabilities);
    EXPECT_EQ(m.GetAxisValue("imageheight"), 512.0);
    EXPECT_GT(m.FindAxis("imageoffsety")->maximum, 0.0);
}

TEST_F(CameraMachineProbes, SendAndReceiveComponents) {
    MCameraMachAbstract& m = OpenMachine();
    // Without a probesystem the probe components are refused before anything else.
    EXPECT_EQ(Send("probe.config", "[General]\n"), "0007\terror \"probesystem not loaded\"\r\n");
    EXPECT_EQ(Send("probe.tip", "garbage"), "0007\terror \"probesystem not loaded\"\r\n");
    EXPECT_EQ(Send("no.such", "anything"), ""); // unknown components are no error
    EXPECT_EQ(Receive("no.such"), "");

    LoadCamera();
    ExpectEntries(Receive("probe.hardware"), "Camera", "img_width=1280 serialnumber=SIM0000001");
    EXPECT_EQ(Entry(Receive("probe.config"), "General", "Channels").substr(0, 22),
              "imagewidth,imageheight");
    EXPECT_EQ(Entry(Receive("probe.tip"), "General", "ComponentName"), "probe.tip");
    const std::string backup = Receive("probesystems.config");
    EXPECT_EQ(Entry(backup, "Global", "SerialNo"), "SIM0000001");

    EXPECT_EQ(Send("probe.tip", "[Camera]\nzoom=4\n"), "0007\terror \"probe not loaded\"\r\n");
    EXPECT_EQ(Send("probe.config", "entry before any section\n"),
              "0007\terror \"invalid component data\"\r\n");
    ASSERT_EQ(Define(4, 1, {{"d", 2.0}}), "");
    ASSERT_EQ(Run(&Machine::NewMMachProbeLoadCommand, 4, 1), kProbesystemChanged);
    EXPECT_EQ(Send("probe.tip", "[Camera]\nzoom=4\n[Geometry]\nx0=1\n"), kProbesystemChanged);
    EXPECT_DOUBLE_EQ(m.get_zoom(), 0.25);
    EXPECT_EQ(Entry(Receive("probe.tip"), "Geometry", "x0"), "1");
    EXPECT_EQ(Send("probe.tip", "entry before any section\n"), "0007\terror \"wrong inidata\"\r\n");
    // Tip 0 of a probe has no tip data of its own: changing to it clears what the last tip
    // gave the sensor.
    ASSERT_EQ(Define(4, 0, {{"x", 3.0}}), "");
    EXPECT_EQ(Run(&Machine::NewMMachProbeChangeCommand, 4, 0), "");
    EXPECT_EQ(Entry(Receive("probe.tip"), "Geometry", "x0"), "0");

    // The backup goes back; a damaged one is refused and changes nothing.
    EXPECT_EQ(Send("probesystems.config", backup), "");
    EXPECT_EQ(Send("probesystems.config", "[Global]\nSerialNo=OTHER\n"),
              "0007\terror \"failed to send component data\"\r\n");
    EXPECT_TRUE(m.IsProbesystemIdDefined("Camera:1", 1));
    EXPECT_EQ(Send("probe.hardware", "[Camera]\ngain=5\n"), ""); // accepted, not applied
}

TEST_F(CameraMachineProbes, ProbesystemTypeAndImageSize) {
    MCameraMachAbstract& m = OpenMachine();
    EXPECT_EQ(m.GetActiveProbesystemType().kind, 0u); // the placeholder has no camera data
    MMachImageInfo info{1, 1, 1};
    m.GetProbesystemImageInfo(info);
    EXPECT_EQ(info.width + info.height + info.bytesPerPixel, 0u);

    LoadCamera();
    ASSERT_EQ(Define(1, 1, {{"d", 2.0}}), "");
    ASSERT_EQ(Run(&Machine::NewMMachProbeLoadCommand, 1, 1), kProbesystemChanged);
    MMachProbesystemType type = m.GetActiveProbesystemType();
    EXPECT_EQ(std::make_tuple(type.kind, type.width, type.height),
              std::make_tuple(MMachProbesystemType::kAreaCamera, 1280u, 1024u));
    EXPECT_DOUBLE_EQ(type.widthMm, 0.00612 * 1280 * 0.5);
    EXPECT_DOUBLE_EQ(type.heightMm, 0.00612 * 1024 * 0.5);
    m.GetProbesystemImageInfo(info);
    EXPECT_EQ(std::make_tuple(info.width, info.height, info.bytesPerPixel),
              std::make_tuple(1280u, 1024u, 1u));
    // A tip without a zoom counts as the standard optics.
    ASSERT_EQ(Send("probe.tip", "[Geometry]\nx0=0\n"), kProbesystemChanged);
    EXPECT_DOUBLE_EQ(m.GetActiveProbesystemType().widthMm, 0.00612 * 1280 * 1.18);
    // A zoom of 0 (a tip defined without "d") is divided by all the same.
    ASSERT_EQ(Send("probe.tip", "[Camera]\nzoom=0\n"), kProbesystemChanged);
    EXPECT_EQ(m.get_zoom(), HUGE_VAL);
    CloseMachine();

    WriteCameraConfig("Width=2048\nHeight=1\nClipHeightMin=1\nClipHeightInc=1\nClipYInc=1\n");
    OpenMachine(); // the camera probesystem is still the active one
    type = machine->GetActiveProbesystemType();
    EXPECT_EQ(std::make_tuple(type.kind, type.width, type.height, type.heightMm),
              std::make_tuple(MMachProbesystemType::kLineCamera, 2048u, 0u, 0.0));
}
