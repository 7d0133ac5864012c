#pragma once
// Section [GenICam] of the configuration file that Initialize receives. Its presence chooses
// a GenICam camera (driven through Aravis) instead of the simulated camera.
//
//   device = Fake_1            Aravis device id, serial number or IP address (required);
//                              "vyxcam list" shows the ids of the cameras this machine sees
//   pixel_format = Mono8       Mono8, Mono10, Mono12 or Mono16; empty: keep the camera's own
//                              when it is one of these, else Mono8 (or Mono16)
//   pixel_width_mm = 0.00345   pixel size; needed when the camera does not tell it
//   pixel_height_mm = 0.00345  (SensorPixelWidth/SensorPixelHeight); given here, it wins
//   light = LightIntensity     Float or Integer feature that drives light channel 0
//   user_set = UserSet1        where FlashSettings saves the settings (UserSetSave)
//   buffers = 8                stream buffers, 2 to 64
//   incomplete = broken        a frame that arrives incomplete: "broken" (delivered without
//                              pixels and with counter 0) or "lost" (not delivered: the
//                              next frame's counter jumps over it)
//
// Aravis's own test camera ("Fake_1" and other ids starting with "Fake") is reachable only
// through this section: its interface is enabled just for it.

#include <cstdint>
#include <string>

namespace Vyx::genicam {

struct GenicamConfig {
    std::string device;
    std::string pixelFormat;
    double pixelWidthMm = 0;  // 0: from the camera
    double pixelHeightMm = 0; // 0: from the camera
    std::string lightFeature;
    std::string userSet = "UserSet1";
    uint32_t buffers = 8;
    bool incompleteAsLost = false;
    std::string file; // where the section was read, for messages

    // Aravis's fake camera, whose interface is off unless asked for.
    bool WantsFakeCamera() const { return device.rfind("Fake", 0) == 0; }
};

// Reads [GenICam] of the file. present is false (and the result true) when the file or the
// section is missing; false with a message naming file and key when the section is wrong.
bool ReadGenicamConfig(const std::string& path, bool& present, GenicamConfig& config,
                       std::string& error);

} // namespace Vyx::genicam
