#include "platform/vyx/cstreamstatistics.h"

#include "platform/vyx/cameraselector.h"
#include "platform/vyx/genicamloader.h"

namespace Vyx {

bool CStreamStatistics::Read(CStreamStatistics* statistics, std::string* why) {
    std::string reason;
    bool read = false;
    if (statistics == nullptr) {
        reason = "no result record";
    } else if (!CCameraSelector::Instance().GenicamOpen()) {
        reason = "the camera is not a GenICam camera";
    } else if (const genicam::PluginApi* api = genicam::LoadGenicamPlugin(reason)) {
        read = api->statistics(*statistics, reason);
    }
    if (!read && why != nullptr)
        *why = reason;
    return read;
}

} // namespace Vyx
