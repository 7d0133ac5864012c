#include "platform/vyx/simcontrol.h"

#include "platform/vyx/simcamera.h"

namespace Vyx {

namespace {
sim::CSimCamera& Camera() {
    return sim::CSimCamera::Instance();
}
} // namespace

void SimControl::SetConnected(bool connected) {
    Camera().SetConnected(connected);
}
void SimControl::SetMode(SimMode mode) {
    Camera().SetMode(mode);
}
void SimControl::SetTemperature(double celsius) {
    Camera().SetTemperature(celsius);
}

bool SimControl::InjectFault(SimFault fault, uint64_t exposure, uint32_t count) {
    return Camera().InjectFault(fault, exposure, count);
}

void SimControl::ClearFaults() {
    Camera().ClearFaults();
}
void SimControl::SetCallFailure(SimCall call, bool fail) {
    Camera().SetCallFailure(call, fail);
}
bool SimControl::EmitFrame() {
    return Camera().Emit(nullptr);
}
bool SimControl::EmitFrame(const SimFrame& frame) {
    return Camera().Emit(&frame);
}
SimStats SimControl::GetStats() {
    return Camera().Stats();
}
SimState SimControl::GetState() {
    return Camera().State();
}

uint32_t SimControl::PatternPixel(uint32_t counter, uint64_t x, uint64_t y) {
    return Camera().PatternPixel(counter, x, y);
}

} // namespace Vyx
