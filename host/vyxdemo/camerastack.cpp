#include "host/vyxdemo/camerastack.h"

#include "csensor/sensors/cprobemanager.h"
#include "host/vyxdemo/demoreport.h"
#include "msl/mfileio/mfastfile.h"
#include "msl/mfileio/mfileops.h"
#include "mt_proxy/camera/misc/csensorvyxcamera.h"
#include "mt_proxy/camera/misc/mcameraglobals.h"
#include "mt_proxy/camera/misc/mcamerasensors.h"
#include "platform/vyx/simcontrol.h"

#include <cstdio>
#include <filesystem>
#include <string>

namespace {

// The simulated camera's power-on settings, written out so that users see where to change
// them (every key: platform/vyx/simconfig.h).
const char kSimCameraIni[] = "[SimCamera]\n"
                             "Width=1280\n"
                             "Height=1024\n"
                             "PixelFormat=2\n"
                             "FrameRate=50\n";

// The probe system the camera serves, as "probesystem load" would hand it over.
const char kProbesystem[] = "[Geometry]\nProbeType=Camera:1\nx0=0\ny0=0\nz0=0\n";

// Probe properties as a probe's "probe.config" brings them: the camera's template keeps
// gain, shutter and frame rate disabled until a probe configuration opens them. The limits
// are those of the simulated camera's defaults.
const char kProbeProperties[] = "[General]\n"
                                "Channels=imagewidth,imageheight,imageoffsetx,imageoffsety,"
                                "gain,shutter,framerate,light_intensity,light_trigger_mode\n"
                                "[Default]\nAccess=D\nStep=1\nMin=0\nMax=1\n"
                                "[imagewidth]\nAccess=R\n"
                                "[imageheight]\nAccess=RW\nMin=10\n"
                                "[imageoffsetx]\nAccess=R\n"
                                "[imageoffsety]\nAccess=RW\n"
                                "[gain]\nAccess=RW\nMin=0\nMax=24\nStep=0.1\n"
                                "[shutter]\nAccess=RW\nMin=0.01\nMax=1000\nStep=0.01\n"
                                "[framerate]\nAccess=RW\nMin=1\nMax=200\nStep=1\n"
                                "[light_intensity]\nMax=100\n"
                                "[light_trigger_mode]\nMax=7\n";

const char* AccessLetters(uint32_t access) {
    static const char* const letters[] = {"R", "W", "RW", "B", "I", "D"};
    return access < 6 ? letters[access] : "D";
}

void PrintChannel(const CSensorChannelDesc& desc) {
    // + 0.0 prints a limit of -0 as 0.
    std::printf("  %-20s %-2s (%u) %10g %10g %8g\n", desc.name, AccessLetters(desc.access),
                desc.access, desc.min + 0.0, desc.max + 0.0, desc.step);
}

} // namespace

CameraStack::CameraStack() : manager(std::make_unique<CProbeManager>()) {}

CameraStack::~CameraStack() {
    manager->Close();
    MCameraGlobals_SetConfigDir("");
}

bool CameraStack::Open(const std::string& directory) {
    std::error_code error;
    std::filesystem::create_directories(directory, error);
    if (error)
        return DemoFailed("cannot create %s: %s", directory.c_str(), error.message().c_str());
    const std::string ini = file_join(directory, "vyxcamera.ini");
    if (std::filesystem::exists(ini)) {
        std::printf("camera configuration %s (kept as it is)\n", ini.c_str());
    } else {
        if (MFastFile_WriteLinesAtOnce(ini.c_str(), kSimCameraIni, sizeof kSimCameraIni - 1,
                                       MFASTFILE_MODE_OVERWRITE | MFASTFILE_MODE_SAFE) < 0)
            return DemoFailed("cannot write %s", ini.c_str());
        std::printf("camera configuration %s written:\n  [SimCamera] 1280 x 1024 pixels, 8 bit, "
                    "50 fps\n",
                    ini.c_str());
    }

    // What the camera machine's constructor and Open do: the camera sensor finds its
    // configuration file through the process-wide configuration directory.
    MCameraSensors_Register();
    MCameraGlobals_SetConfigDir(directory);
    manager->InitSensors(0.001);
    if (!manager->Open(directory, "camprobedb.ini", 0.001))
        return DemoFailed("the probe manager did not open on %s", directory.c_str());
    for (CSensor* sensor : manager->GetSensors())
        if (auto* found = dynamic_cast<CSensorVyxCamera*>(sensor))
            camera = found;
    if (camera == nullptr)
        return DemoFailed("the probe manager has no camera sensor: no camera was found "
                          "(see why below)");
    std::printf("probe manager open on %s/camprobedb.ini\nthe simulated camera read %s\n",
                directory.c_str(), Vyx::SimControl::GetState().configFile.c_str());
    return true;
}

void CameraStack::PrintCamera() const {
    const CVyxCameraIdentity& identity = camera->GetIdentity();
    std::printf("camera: %s %s, serial number %s, sensor class %s\n", identity.manufacturer.c_str(),
                camera->GetName(), camera->GetSerialNo(), camera->GetSensorClass());
    std::string types;
    if (!manager->GetProbesystemList(types))
        types = "(none)";
    while (!types.empty() && types.back() == ' ')
        types.pop_back();
    std::printf("probe-system types: %s\n", types.c_str());
    std::printf("channels of the camera sensor (access code, limits):\n");
    std::printf("  %-20s %-6s %10s %10s %8s\n", "name", "access", "min", "max", "step");
    for (const auto& entry : camera->GetPropertyTable())
        PrintChannel(entry.second);
    std::printf("(D: disabled; the camera's settings stay so until a probe configuration opens "
                "them)\n");
}

bool CameraStack::ApplySettings(double gain, double shutterMs, double rate) {
    if (!manager->SetProbesystem(kProbesystem))
        return DemoFailed("loading the probe system Camera:1 failed");
    if (!manager->SetProbeProperties(kProbeProperties))
        return DemoFailed("the probe properties were refused");
    std::printf("probe system Camera:1 loaded, current sensor %s; its probe properties open\n"
                "gain, shutter and frame rate:\n",
                manager->GetSensor()->GetName());
    for (const char* name : {"gain", "shutter", "framerate"}) {
        CSensorChannelDesc desc;
        if (camera->GetPropertyData(name, &desc))
            PrintChannel(desc);
    }

    const CSensorValueMap values{{"gain", gain}, {"shutter", shutterMs}, {"framerate", rate}};
    if (!camera->SetPropertyValue(values))
        return DemoFailed("the camera refused gain %g, shutter %g ms, frame rate %g", gain,
                          shutterMs, rate);
    std::printf("  %-20s %10s %10s\n", "setting", "set", "read back");
    for (const auto& [name, value] : values) {
        double read = 0.0;
        if (!camera->GetPropertyValue(name.c_str(), &read))
            return DemoFailed("reading %s back from the camera failed", name.c_str());
        std::printf("  %-20s %10g %10g\n", name.c_str(), value, read);
        if (name == "framerate")
            frameRate = read;
    }
    return true;
}
