#pragma once
// The entry of the GenICam back end, a shared library of its own (libvyx_genicam.so, built
// only where Aravis is installed) that the camera library loads when a configuration asks
// for a GenICam camera or the camera list is wanted. Nothing else of the library needs Aravis.

#include "platform/vyx/ccameralist.h"
#include "platform/vyx/cimgsensors.h"
#include "platform/vyx/cstreamstatistics.h"
#include "platform/vyx/genicamconfig.h"
#include "platform/vyx/vyxapi.h"

#include <cstdint>
#include <string>
#include <vector>

namespace Vyx::genicam {

// Raised whenever the table or the types it passes change; a library of another version is
// refused.
constexpr uint32_t PluginVersion = 2;

struct PluginApi {
    uint32_t version;
    // The process's one GenICam camera object; it lives as long as the process.
    CImgSensors* (*camera)();
    // Opens the configured camera on that object: results as CImgSensors::Initialize, the
    // reason of a failure in the object's GetLastErrorText.
    int (*initialize)(const GenicamConfig& config);
    // Appends the cameras Aravis finds; false with the reason when the search fails.
    bool (*enumerate)(bool includeFake, std::vector<CCameraEntry>& cameras, std::string& error);
    // The stream figures of the open camera's current or last acquisition; false with the
    // reason when there are none.
    bool (*statistics)(CStreamStatistics& statistics, std::string& error);
};

} // namespace Vyx::genicam

// The symbol the camera library looks up.
extern "C" VYX_API const Vyx::genicam::PluginApi* VyxGenicam_GetApi();
