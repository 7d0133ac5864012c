#pragma once
// The settings a camera keeps across power cycles once FlashSettings wrote them,
// and their file form ([Flash] section of an INI file).

#include "platform/vyx/csmartcamparam.h"
#include "platform/vyx/simconfig.h"

#include <cstdint>
#include <string>

namespace Vyx::sim {

struct SimSettings {
    double exposure = 0;
    double frameRate = 0;
    double gain = 0;
    double lightIntensity = 0;
    int32_t triggerMode = 0;
    int32_t clipX = 0, clipY = 0;
    uint32_t clipWidth = 0, clipHeight = 0;
    int32_t scanningMode = 1;
    int32_t transferVolume = 0;
    CParamKR7700 param;

    static SimSettings FromConfig(const SimConfig& config);
};

std::string FlashText(const SimSettings& settings, bool withParam);

// Reads [Flash] into settings and checks every value against the camera's
// limits; false with the reason otherwise (settings may be partly changed).
bool ParseFlash(const std::string& text, const SimConfig& config, SimSettings& settings,
                std::string& error);

// Writes text to path through a temporary file in the same folder, synced and
// renamed over the target: the old file stays whole when anything fails.
bool WriteFileAtomically(const std::string& path, const std::string& text, std::string& error);

} // namespace Vyx::sim
