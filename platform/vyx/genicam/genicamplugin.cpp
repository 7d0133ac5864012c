// The entry table of the GenICam back end.

#include "platform/vyx/genicamplugin.h"

#include "platform/vyx/genicam/genicamaravis.h"
#include "platform/vyx/genicam/genicamcamera.h"

namespace Vyx::genicam {

namespace {

CImgSensors* Camera() {
    return &CGenicamCamera::Instance();
}

int Initialize(const GenicamConfig& config) {
    return CGenicamCamera::Instance().Open(config);
}

bool Enumerate(bool includeFake, std::vector<CCameraEntry>& cameras, std::string& error) {
    return EnumerateAravisCameras(includeFake, cameras, error);
}

bool Statistics(CStreamStatistics& statistics, std::string& error) {
    return CGenicamCamera::Instance().Statistics(statistics, error);
}

const PluginApi kApi = {PluginVersion, Camera, Initialize, Enumerate, Statistics};

} // namespace

} // namespace Vyx::genicam

const Vyx::genicam::PluginApi* VyxGenicam_GetApi() {
    return &Vyx::genicam::kApi;
}
