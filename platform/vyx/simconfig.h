#pragma once
// Configuration of the simulated camera: section [SimCamera] of an INI file.
//
//   Model = standard | fibre      preset, applied before the other keys
//   Connected = 1                 0: Initialize fails as with no camera attached
//   Manufacturer, DeviceName, SerialNumber, ProductVersion, DllVersion,
//   DriverVersion, CpldVersion, BootloaderVersion, FpgaVersion   identity texts
//   InfoOmit = key, ...           self-description items to leave out
//   CameraInfo = text             replaces the whole self-description
//   Width = 1280, Height = 1024   sensor size in pixels
//   PixelFormat = 2               2, 4, 6, 200, 21, 22, 34, 38; other codes need
//   BytesPerPixel = 1..4          (derived for the known codes)
//   Arrangement = 0
//   PixelWidthMm, PixelHeightMm = 0.00612
//   FrameRate = 50, FrameRateMin = 1, FrameRateMax = 200        frames per second
//   Exposure = 10, ExposureMin = 0.01, ExposureMax = 1000       milliseconds
//   Gain = 0, GainMin = 0, GainMax = 24
//   LightChannels = 1 (0 or 1), LightIntensity = 0, LightMin = 0, LightMax = 100
//   TriggerMode = 0, TriggerModeMax = 7
//   TemperatureSensor = 1, Temperature = 35
//   ClipWidthMin = 16, ClipWidthInc = 8, ClipHeightMin = 8, ClipHeightInc = 2,
//   ClipXInc = 8, ClipYInc = 2
//   ClipX, ClipY, ClipWidth, ClipHeight = 0   power-on clipping region (0: full)
//   TimeStampUnit = ns | us
//   Mode = realtime | freerun | manual
//   FlashFile = path              where FlashSettings keeps the power-on values
//   CIFMode, QLimit, AESpeed, PhaseOff, ErrMaxCnt, DACRngMin, DACRngMax, DeltaZ,
//   ParamLight                    power-on parameter block of a KR7700
//   DropFrames = 5, 9-11          exposures not delivered
//   BrokenFrames = 20             delivered without pixels and counter 0
//   CounterZeroFrames = 30        delivered with pixels and counter 0
//   Stall = 40:1500               no frames for 1500 ms before exposure 40
//   DropEvery = 0                 every n-th exposure dropped (0: none, else 2 or more)
//   Replay = DIR                  frames of the recording in DIR instead of the pattern: its
//                                 size, pixel format, frame rate and temperatures replace
//                                 the keys above, its clipping steps are 1 pixel
//   ReplayEnd = loop | stall      after the last frame: again, counters and times going on,
//                                 or no frame until the next Grab (or trigger)
//   ReplayTrigger = PATH          each pass waits until this file exists, and removes it
//   A relative Replay or ReplayTrigger path is taken from the folder of the file naming it.

#include "platform/vyx/csmartcamparam.h"
#include "platform/vyx/simcontrol.h"
#include "platform/vyx/simfaultplan.h"

#include <cstdint>
#include <string>
#include <vector>

namespace Vyx::sim {

struct SimConfig {
    bool connected = true;

    std::string manufacturer = "Vyx";
    std::string deviceName = "VX1280M-SIM";
    std::string serialNumber = "SIM0000001";
    std::string productVersion = "1.0";
    std::string dllVersion = "1.0.0";
    std::string driverVersion = "1.0.0";
    std::string cpldVersion = "1.0";
    std::string bootloaderVersion = "1.0";
    std::string fpgaVersion = "1.0";
    std::vector<std::string> infoOmit;
    bool hasCameraInfo = false;
    std::string cameraInfo;

    uint32_t width = 1280;
    uint32_t height = 1024;
    uint32_t pixelFormat = 2;
    uint32_t bytesPerPixel = 1; // derived from the format unless given for an unknown code
    uint32_t bitsPerPixel = 8;  // derived
    uint32_t arrangement = 0;
    double pixelWidthMm = 0.00612;
    double pixelHeightMm = 0.00612;

    double frameRate = 50, frameRateMin = 1, frameRateMax = 200;
    double exposure = 10, exposureMin = 0.01, exposureMax = 1000;
    double gain = 0, gainMin = 0, gainMax = 24;
    uint32_t lightChannels = 1;
    double lightIntensity = 0, lightMin = 0, lightMax = 100;
    int32_t triggerMode = 0, triggerModeMax = 7;
    bool temperatureSensor = true;
    double temperature = 35;

    int32_t clipWidthMin = 16, clipWidthInc = 8, clipHeightMin = 8, clipHeightInc = 2;
    int32_t clipXInc = 8, clipYInc = 2;
    int32_t clipX = 0, clipY = 0;
    uint32_t clipWidth = 0, clipHeight = 0;

    int32_t timeStampKind = 2;
    SimMode mode = SimMode::RealTime;
    std::string flashFile;

    CParamKR7700 param;
    std::vector<FaultRule> faults;

    std::string replayDir; // empty: the test pattern
    bool replayLoop = true;
    std::string replayTrigger;

    // A KR7700 has the on-board parameter block.
    bool HasSmartParams() const { return deviceName == CParamKR7700::KindName; }
};

// Applies [SimCamera] of the file on top of config. A file that does not exist
// is an error only when mustExist. The message names the file and the key.
bool ReadSimConfig(const std::string& path, bool mustExist, SimConfig& config, std::string& error);

// Checks the whole configuration and derives what follows from it.
bool FinishSimConfig(SimConfig& config, std::string& error);

// The configuration as Initialize takes it: [SimCamera] of configFile (null, empty or missing:
// none), refined key by key by the file VYX_SIMCAMERA_INI names, then checked. files lists
// the files that were read, ';'-separated.
bool LoadSimConfig(const char* configFile, SimConfig& config, std::string& files,
                   std::string& error);

// Clipping rule shared by the configuration and SetClippingRegion: a region of
// width/height 0 becomes the full frame; false with a reason when the camera
// cannot read it out.
bool NormaliseClip(const SimConfig& config, int32_t& x, int32_t& y, uint32_t& width,
                   uint32_t& height, std::string& error);

// Limits GetClippingLimits reports for an axis; false for an unknown axis.
bool ClipLimits(const SimConfig& config, int32_t axis, int32_t& minimum, int32_t& maximum,
                int32_t& increment);

// Parameter-block values a KR7700 accepts.
bool CheckParam(const CParamKR7700& param, std::string& error);

} // namespace Vyx::sim
