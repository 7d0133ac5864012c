#include "platform/vyx/cimgsensors.h"

#include "platform/vyx/simcamera.h"

namespace Vyx {

CImgSensors::~CImgSensors() = default;

CImgSensors* CImgSensors::GetInstance() {
    sim::CSimCamera& camera = sim::CSimCamera::Instance();
    return camera.Connected() ? &camera : nullptr;
}

} // namespace Vyx
