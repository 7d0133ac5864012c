#include "platform/vyx/ccameralist.h"

#include "platform/vyx/genicamloader.h"
#include "platform/vyx/simcamera.h"
#include "platform/vyx/simconfig.h"

namespace Vyx {

bool CCameraList::Enumerate(const char* configFile, bool includeFake,
                            std::vector<CCameraEntry>* cameras, std::string* genicamError,
                            std::string* error) {
    if (cameras == nullptr)
        return false;
    cameras->clear();
    if (genicamError != nullptr)
        genicamError->clear();

    sim::SimConfig config;
    std::string files, why;
    if (!sim::LoadSimConfig(configFile, config, files, why)) {
        if (error != nullptr)
            *error = "simulated camera: " + why;
        return false;
    }
    if (config.connected && sim::CSimCamera::Instance().Connected()) {
        CCameraEntry entry;
        entry.backEnd = "sim";
        entry.id = config.serialNumber;
        entry.manufacturer = config.manufacturer;
        entry.model = config.deviceName;
        entry.serialNumber = config.serialNumber;
        cameras->push_back(entry);
    }

    std::string failure;
    const genicam::PluginApi* api = genicam::LoadGenicamPlugin(failure);
    std::vector<CCameraEntry> found;
    if (api != nullptr && !api->enumerate(includeFake, found, failure))
        found.clear();
    else if (api != nullptr)
        failure.clear();
    cameras->insert(cameras->end(), found.begin(), found.end());
    if (genicamError != nullptr)
        *genicamError = failure;
    return true;
}

} // namespace Vyx
