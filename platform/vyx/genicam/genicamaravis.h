#pragma once
// What the GenICam back end asks of Aravis for the whole process: finding cameras and opening
// one. Aravis keeps one device list per process, so these calls take turns.

#include "platform/vyx/ccameralist.h"

#include <string>
#include <vector>

typedef struct _ArvCamera ArvCamera;

namespace Vyx::genicam {

// The camera with this Aravis id, serial number or IP address, or null with Aravis's reason.
// withFake enables Aravis's test camera first. A camera on this machine's loopback is opened
// by its address, so that its stream comes over loopback.
ArvCamera* OpenAravisCamera(const std::string& device, bool withFake, std::string& why);

// Appends the cameras Aravis finds; its own test camera only with includeFake.
bool EnumerateAravisCameras(bool includeFake, std::vector<CCameraEntry>& cameras, std::string& why);

// The addresses a GigE Vision camera's stream goes to and comes from; false for other cameras.
bool GigEAddresses(ArvCamera* camera, std::string& interfaceAddress, std::string& cameraAddress);

} // namespace Vyx::genicam
