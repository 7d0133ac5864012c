#pragma once
// The cameras the camera library can reach: the simulated camera and every GenICam camera
// that Aravis finds (GigE Vision on every network interface, USB3 Vision).

#include "platform/vyx/vyxapi.h"

#include <string>
#include <vector>

namespace Vyx {

struct VYX_API CCameraEntry {
    std::string backEnd; // "sim" or "genicam"
    std::string id;      // what [GenICam] device takes (for the simulated camera: its serial)
    std::string manufacturer;
    std::string model;
    std::string serialNumber;
    std::string address; // network address of a GigE Vision camera, else empty
};

class VYX_API CCameraList {
public:
    // Fills cameras. configFile (may be null) configures the simulated camera as Initialize
    // would; it is listed unless that configuration disconnects it. includeFake adds Aravis's
    // test camera. GenICam cameras are left out, with the reason in genicamError, when this
    // build or machine has no GenICam support or the search fails; the result is still true.
    // False only when the simulated camera's configuration is wrong (reason in error).
    static bool Enumerate(const char* configFile, bool includeFake,
                          std::vector<CCameraEntry>* cameras, std::string* genicamError,
                          std::string* error);
};

} // namespace Vyx
