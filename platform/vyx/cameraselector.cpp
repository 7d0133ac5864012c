#include "platform/vyx/cameraselector.h"

#include "platform/vyx/genicamconfig.h"
#include "platform/vyx/genicamloader.h"
#include "platform/vyx/simcamera.h"

#include <algorithm>

namespace Vyx {

namespace {

// The selector's own failures; other failures are the chosen camera's to tell.
thread_local std::string t_error;
thread_local bool t_ownError = false;

int OwnFailure(int result, const std::string& message) {
    t_error = message;
    t_ownError = true;
    return result;
}

} // namespace

CCameraSelector& CCameraSelector::Instance() {
    static CCameraSelector selector;
    return selector;
}

CCameraSelector::CCameraSelector() : m_active(&sim::CSimCamera::Instance()) {}

CCameraSelector::~CCameraSelector() = default;

CImgSensors& CCameraSelector::Chosen() const {
    t_ownError = false;
    return *m_active.load();
}

int CCameraSelector::Initialize(const char* configFile, int reserved) {
    std::lock_guard<std::mutex> lifecycle(m_lifecycle);
    if (m_genicam)
        return 0;
    std::string path = configFile != nullptr ? configFile : "";
#if !defined(_WIN32)
    // Callers written for Windows join folder and file with a backslash.
    std::replace(path.begin(), path.end(), '\\', '/');
#endif
    bool present = false;
    genicam::GenicamConfig config;
    std::string error;
    if (!genicam::ReadGenicamConfig(path, present, config, error))
        return OwnFailure(-2, "Initialize(): " + error);
    if (!present)
        return Chosen().Initialize(configFile, reserved);
    if (sim::CSimCamera::Instance().State().initialised)
        return 0;

    const genicam::PluginApi* api = genicam::LoadGenicamPlugin(error);
    if (api == nullptr)
        return OwnFailure(-1, "Initialize(): " + path + " asks for GenICam camera \"" +
                                  config.device + "\": " + error);
    const int result = api->initialize(config);
    if (result < 0)
        return OwnFailure(result, api->camera()->GetLastErrorText(0));
    if (result > 0) {
        m_active.store(api->camera());
        m_genicam = true;
    }
    t_ownError = false;
    return result;
}

bool CCameraSelector::Uninitialize(int reserved) {
    std::lock_guard<std::mutex> lifecycle(m_lifecycle);
    const bool done = Chosen().Uninitialize(reserved);
    if (m_genicam && done) {
        m_genicam = false;
        m_active.store(&sim::CSimCamera::Instance());
    }
    return done;
}

bool CCameraSelector::GenicamOpen() {
    std::lock_guard<std::mutex> lifecycle(m_lifecycle);
    return m_genicam;
}

bool CCameraSelector::RegisterImgStreamInput(void* context, ImgStreamCallback callback,
                                             int reserved) {
    return Chosen().RegisterImgStreamInput(context, callback, reserved);
}

bool CCameraSelector::UnregisterImgStreamInput(void* context, ImgStreamCallback callback,
                                               int reserved) {
    return Chosen().UnregisterImgStreamInput(context, callback, reserved);
}

bool CCameraSelector::Grab(int reserved) {
    return Chosen().Grab(reserved);
}

bool CCameraSelector::Freeze(int reserved) {
    return Chosen().Freeze(reserved);
}

bool CCameraSelector::GetImageInfo(CImageInfo* info, int reserved) {
    return Chosen().GetImageInfo(info, reserved);
}

bool CCameraSelector::GetImageMemoryCaps(std::set<int32_t>* caps, int reserved) {
    return Chosen().GetImageMemoryCaps(caps, reserved);
}

int CCameraSelector::GetPixelSize(double* widthMm, double* heightMm, int reserved) {
    return Chosen().GetPixelSize(widthMm, heightMm, reserved);
}

int CCameraSelector::GetClippingLimits(int32_t axis, int32_t* minimum, int32_t* maximum,
                                       int32_t* increment, int reserved) {
    return Chosen().GetClippingLimits(axis, minimum, maximum, increment, reserved);
}

bool CCameraSelector::SetExposure(double milliseconds, int reserved) {
    return Chosen().SetExposure(milliseconds, reserved);
}

bool CCameraSelector::GetExposure(double* milliseconds, int reserved) {
    return Chosen().GetExposure(milliseconds, reserved);
}

bool CCameraSelector::SetFrameRate(double framesPerSecond, int reserved) {
    return Chosen().SetFrameRate(framesPerSecond, reserved);
}

bool CCameraSelector::GetFrameRate(double* framesPerSecond, int reserved) {
    return Chosen().GetFrameRate(framesPerSecond, reserved);
}

bool CCameraSelector::SetGain(double gain, int reserved) {
    return Chosen().SetGain(gain, reserved);
}

bool CCameraSelector::GetGain(double* gain, int reserved) {
    return Chosen().GetGain(gain, reserved);
}

bool CCameraSelector::SetClippingRegion(int32_t x, int32_t y, uint32_t width, uint32_t height,
                                        int reserved) {
    return Chosen().SetClippingRegion(x, y, width, height, reserved);
}

bool CCameraSelector::SetSmartParam(const CSmartCamParamBase* param, int reserved) {
    return Chosen().SetSmartParam(param, reserved);
}

bool CCameraSelector::GetSmartParam(CSmartCamParamBase* param, int reserved) {
    return Chosen().GetSmartParam(param, reserved);
}

bool CCameraSelector::SetScanningMode(int32_t mode, int reserved) {
    return Chosen().SetScanningMode(mode, reserved);
}

bool CCameraSelector::SetDataTransferVolume(int32_t mode, int reserved) {
    return Chosen().SetDataTransferVolume(mode, reserved);
}

bool CCameraSelector::FlashSettings(int reserved) {
    return Chosen().FlashSettings(reserved);
}

bool CCameraSelector::SetLightIntensity(int32_t channel, double intensity, int reserved) {
    return Chosen().SetLightIntensity(channel, intensity, reserved);
}

bool CCameraSelector::GetLightIntensity(int32_t channel, double* intensity, int reserved) {
    return Chosen().GetLightIntensity(channel, intensity, reserved);
}

bool CCameraSelector::SetTriggerMode(int32_t channel, int32_t mode, int reserved) {
    return Chosen().SetTriggerMode(channel, mode, reserved);
}

bool CCameraSelector::GetTriggerMode(int32_t channel, int32_t* mode, int reserved) {
    return Chosen().GetTriggerMode(channel, mode, reserved);
}

bool CCameraSelector::GetCameraInfo(std::string* xml, int reserved) {
    return Chosen().GetCameraInfo(xml, reserved);
}

const char* CCameraSelector::GetLastErrorText(int reserved) {
    return t_ownError ? t_error.c_str() : m_active.load()->GetLastErrorText(reserved);
}

} // namespace Vyx
