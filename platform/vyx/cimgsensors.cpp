#include "platform/vyx/cimgsensors.h"

#include "platform/vyx/cameraselector.h"
#include "platform/vyx/simcamera.h"

namespace Vyx {

CImgSensors::~CImgSensors() = default;

CImgSensors* CImgSensors::GetInstance() {
    // The test interface can unplug the simulated camera; then there is no camera at all.
    return sim::CSimCamera::Instance().Connected() ? &CCameraSelector::Instance() : nullptr;
}

} // namespace Vyx
