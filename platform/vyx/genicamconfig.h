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
// The GigE Vision stream (USB3 Vision cameras have none of these):
//   packet_socket = auto       "auto": Aravis's packet socket where the process may open one
//                              (root, or CAP_NET_RAW), else a UDP socket; "off": a UDP socket
//   packet_size = auto         bytes per stream packet, or "auto": negotiated with the camera
//                              when it opens (the largest the path to the camera carries)
//   packet_resend = on         "on": ask the camera again for packets that did not come
//   socket_buffer = auto       receive buffer of the UDP socket in bytes, or "auto": one frame
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
    bool packetSocket = true;
    uint32_t packetSize = 0; // 0: negotiated
    bool packetResend = true;
    uint32_t socketBufferBytes = 0; // 0: the frame's size
    std::string file;               // where the section was read, for messages

    // Aravis's fake camera, whose interface is off unless asked for.
    bool WantsFakeCamera() const { return device.rfind("Fake", 0) == 0; }
};

// Reads [GenICam] of the file. present is false (and the result true) when the file or the
// section is missing; false with a message naming file and key when the section is wrong,
// also when a section of that name is written in another case ([Genicam]).
bool ReadGenicamConfig(const std::string& path, bool& present, GenicamConfig& config,
                       std::string& error);

} // namespace Vyx::genicam
