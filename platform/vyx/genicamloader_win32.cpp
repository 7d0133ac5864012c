// The GenICam back end is Aravis's, which has no Windows build: on Windows a configuration
// that asks for a GenICam camera gets a clear refusal instead of a missing library.

#include "platform/vyx/genicamloader.h"

namespace Vyx::genicam {

const PluginApi* LoadGenicamPlugin(std::string& error) {
    error = "GenICam is not available: the GenICam back end (Aravis) is built on Linux only";
    return nullptr;
}

} // namespace Vyx::genicam
