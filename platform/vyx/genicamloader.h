#pragma once
// Loads the GenICam back end on first use and keeps it loaded for the rest of the process.
//
// The library is VYX_GENICAM_LIBRARY when that is set, else libvyx_genicam.so beside the
// camera library itself.

#include "platform/vyx/genicamplugin.h"

#include <string>

namespace Vyx::genicam {

// The back end's entry table, or null with the reason (missing library, other version).
const PluginApi* LoadGenicamPlugin(std::string& error);

} // namespace Vyx::genicam
