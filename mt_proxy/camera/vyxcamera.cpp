// The module's three entry points; everything else stays inside the module.

#include "lintel/server/machine/mmachabstract.h"
#include "msl/mfileio/mdirtools.h"
#include "msl/mfileio/mfileops.h"
#include "mt_proxy/camera/misc/mcamerasensors.h"
#include "mt_proxy/camera/mmachabstract/mcameramachabstract.h"
#include "platform/trace/mtrace.h"

#include <cstdint>
#include <string>

#if defined(_WIN32)
#define VYX_EXPORT extern "C" __declspec(dllexport)
#else
#define VYX_EXPORT extern "C" __attribute__((visibility("default")))
#endif

class MClientNotifier;
class MOutputChannel;

namespace {

// Loading the module enters its sensors in the probe manager's registry.
[[maybe_unused]] const bool sensorsRegistered = (MCameraSensors_Register(), true);

} // namespace

VYX_EXPORT bool IsProxy() {
    return false;
}

// The server owns the machine and deletes it through the virtual destructor; `channel` and
// `notifier` stay the server's.
VYX_EXPORT MMachAbstract* NewMMachAbstract(const std::string& name, const std::string& directory,
                                           MOutputChannel* channel, MClientNotifier* notifier) {
    // The machine's folder, which an installation brings: without a camera the databases live
    // there, and the machine itself only makes the folders of the cameras it finds. Should it
    // fail, opening says why.
    const std::string machineDir = file_join(directory, "camera");
    if (!dir_exists(machineDir.c_str()))
        varn::createDirectoryRecursive(machineDir);
    return new MCameraMachAbstract(name, directory, channel, notifier);
}

VYX_EXPORT void SetDefaultTracelevel(int32_t level) {
    _MTrace_SetLevel("default", level);
}
