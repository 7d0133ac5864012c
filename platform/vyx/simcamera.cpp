#include "platform/vyx/simcamera.h"

#include "platform/trace/printfformat.h"
#include "platform/vyx/camerainfoxml.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace Vyx::sim {

namespace {

thread_local std::string t_lastError;

bool Fail(const char* format, ...) VYX_PRINTF_FORMAT(1, 2);

bool Fail(const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    t_lastError = text;
    return false;
}

bool InRange(double value, double minimum, double maximum) {
    return value >= minimum && value <= maximum; // false for NaN
}

std::string SelfDescription(const SimConfig& c) {
    const std::pair<const char*, std::string> items[] = {
        {"manufacturer", c.manufacturer},
        {"devicename", c.deviceName},
        {"productversion", c.productVersion},
        {"serialnumber", c.serialNumber},
        {"dllversion", c.dllVersion},
        {"driverversion", c.driverVersion},
        {"cpldversion", c.cpldVersion},
        {"bootloaderversion", c.bootloaderVersion},
        {"fpgaversion", c.fpgaVersion},
        {"sensorwidth", std::to_string(c.width)},
        {"sensorheight", std::to_string(c.height)},
        {"pixelformat", std::to_string(c.pixelFormat)},
    };
    std::vector<std::pair<std::string, std::string>> kept;
    for (const auto& [key, value] : items) {
        bool omitted = false;
        for (const std::string& omit : c.infoOmit)
            omitted |= omit == key;
        if (!omitted)
            kept.emplace_back(key, value);
    }
    return CameraInfoXml(kept);
}

} // namespace

CSimCamera& CSimCamera::Instance() {
    static CSimCamera camera;
    return camera;
}

CSimCamera::~CSimCamera() = default;

bool CSimCamera::Ready(SimCall call, const char* operation) const {
    if (!m_initialised)
        return Fail("%s(): camera not initialised", operation);
    if (m_failures[static_cast<size_t>(call)].load())
        return Fail("%s(): failure injected by the test interface", operation);
    return true;
}

void CSimCamera::PublishGeometry() {
    FrameGeometry g;
    g.rowPitch = m_config.width;
    g.rows = m_config.height;
    g.offsetX = static_cast<uint64_t>(m_settings.clipX);
    g.offsetY = static_cast<uint64_t>(m_settings.clipY);
    g.clipWidth = m_settings.clipWidth;
    g.clipHeight = m_settings.clipHeight;
    g.bytesPerPixel = m_config.bytesPerPixel;
    g.pixelFormat = m_config.pixelFormat;
    g.bitsPerPixel = m_config.bitsPerPixel;
    m_acquisition.SetGeometry(g);
}

int CSimCamera::Initialize(const char* configFile, int) {
    if (m_acquisition.OnAcquisitionThread()) {
        Fail("Initialize(): called from an image callback");
        return -1;
    }
    std::lock_guard<std::mutex> lifecycle(m_lifecycle);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_initialised)
            return 0;
    }
    int result = InitializeFrom(configFile);
    // A camera that will not start must say why somewhere a user looks.
    if (result < 0)
        fprintf(stderr, "vyx_base: %s\n", t_lastError.c_str());
    return result;
}

int CSimCamera::InitializeFrom(const char* configFile) {
    if (m_failures[static_cast<size_t>(SimCall::Initialize)].load()) {
        Fail("Initialize(): failure injected by the test interface");
        return -1;
    }
    if (!m_connected.load()) {
        Fail("Initialize(): no camera connected");
        return -1;
    }
    SimConfig config;
    std::string files, error;
    if (!LoadSimConfig(configFile, config, files, error)) {
        Fail("Initialize(): %s", error.c_str());
        return -2;
    }
    std::error_code ec;
    if (!config.connected) {
        Fail("Initialize(): no camera connected");
        return -1;
    }

    SimSettings settings = SimSettings::FromConfig(config);
    const bool replay = !config.replayDir.empty();
    if (replay) {
        // A replay is the recorded camera: what some other camera flashed does not apply.
    } else if (!config.flashFile.empty()) {
        if (std::filesystem::exists(config.flashFile, ec)) {
            std::ifstream file(config.flashFile, std::ios::binary);
            std::stringstream text;
            text << file.rdbuf();
            if (!file || !ParseFlash(text.str(), config, settings, error)) {
                Fail("Initialize(): flash file %s: %s", config.flashFile.c_str(),
                     file ? error.c_str() : "cannot read the file");
                return -3;
            }
        }
    } else {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto flashed = m_flash.find(config.serialNumber);
        if (flashed != m_flash.end())
            settings = flashed->second;
    }

    if (replay) {
        if (!m_replay.Load(config.replayDir, error)) {
            Fail("Initialize(): Replay: %s", error.c_str());
            return -4;
        }
        const RecordingInfo& info = m_replay.Info();
        if (info.width != config.width || info.height != config.height ||
            info.bytesPerPixel != config.bytesPerPixel) {
            Fail("Initialize(): Replay = %s: the recording changed while it was read",
                 config.replayDir.c_str());
            m_replay.Release();
            return -4;
        }
    } else if (!m_pattern.Build(config.width, config.height, config.bytesPerPixel,
                                config.bitsPerPixel)) {
        Fail("Initialize(): out of memory for %ux%u frames", config.width, config.height);
        return -4;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_config = config;
        m_settings = settings;
        m_configFiles = files;
        m_acquisition.SetTimeStampKind(config.timeStampKind);
        m_acquisition.SetFrameRate(settings.frameRate);
        m_acquisition.SetTemperature(config.temperatureSensor, config.temperature);
        m_acquisition.SetMode(config.mode);
        for (const FaultRule& rule : config.faults)
            m_acquisition.AddFault(rule, false);
        m_acquisition.SetReplay(replay ? &m_replay : nullptr, config.replayLoop,
                                config.replayTrigger);
        PublishGeometry();
    }
    // Outside m_mutex: callbacks take the delivery lock first and m_mutex second.
    m_acquisition.Start(&m_pattern);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_initialised = true;
    return 1;
}

bool CSimCamera::Uninitialize(int) {
    if (m_acquisition.OnAcquisitionThread())
        return Fail("Uninitialize(): called from an image callback");
    std::lock_guard<std::mutex> lifecycle(m_lifecycle);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_initialised)
            return Fail("Uninitialize(): camera not initialised");
        m_initialised = false;
    }
    m_acquisition.Stop();
    m_acquisition.SetReplay(nullptr, true, std::string());
    m_pattern.Release();
    m_replay.Release();
    return true;
}

bool CSimCamera::RegisterImgStreamInput(void* context, ImgStreamCallback callback, int) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!Ready(SimCall::Register, "RegisterImgStreamInput"))
            return false;
    }
    if (callback == nullptr)
        return Fail("RegisterImgStreamInput(): no callback");
    // Outside m_mutex: this waits for a frame in flight, whose callbacks may call us.
    if (!m_acquisition.AddReceiver(context, callback))
        return Fail("RegisterImgStreamInput(): camera not initialised");
    return true;
}

bool CSimCamera::UnregisterImgStreamInput(void* context, ImgStreamCallback callback, int) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!Ready(SimCall::Unregister, "UnregisterImgStreamInput"))
            return false;
    }
    if (!m_acquisition.RemoveReceiver(context, callback))
        return Fail("UnregisterImgStreamInput(): callback not registered");
    return true;
}

bool CSimCamera::Grab(int) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!Ready(SimCall::Grab, "Grab"))
            return false;
    }
    if (!m_acquisition.Grab())
        return Fail("Grab(): camera not initialised");
    return true;
}

bool CSimCamera::Freeze(int) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!Ready(SimCall::Freeze, "Freeze"))
            return false;
    }
    m_acquisition.Freeze();
    return true;
}

bool CSimCamera::GetImageInfo(CImageInfo* info, int) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!Ready(SimCall::GetImageInfo, "GetImageInfo"))
        return false;
    if (info == nullptr)
        return Fail("GetImageInfo(): no result record");
    info->imageWidth = m_config.width;
    info->imageHeight = m_config.height;
    info->memoryWidth = m_config.width;
    info->memoryHeight = m_config.height;
    info->clipX = m_settings.clipX;
    info->clipY = m_settings.clipY;
    info->clipWidth = m_settings.clipWidth;
    info->clipHeight = m_settings.clipHeight;
    info->memoryBytesPerPixel = m_config.bytesPerPixel;
    info->arrangement = m_config.arrangement;
    info->pixelFormat = m_config.pixelFormat;
    return true;
}

bool CSimCamera::GetImageMemoryCaps(std::set<int32_t>* caps, int) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!Ready(SimCall::GetImageMemoryCaps, "GetImageMemoryCaps"))
        return false;
    if (caps == nullptr)
        return Fail("GetImageMemoryCaps(): no result set");
    caps->clear();
    if (m_config.temperatureSensor)
        caps->insert(ImgCap_TemperatureSensor);
    caps->insert(ImgCap_PartialScan);
    if (m_config.lightChannels > 0)
        caps->insert(ImgCap_LightControl);
    if (m_config.HasSmartParams())
        caps->insert(ImgCap_SmartParams);
    return true;
}

int CSimCamera::GetPixelSize(double* widthMm, double* heightMm, int) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!Ready(SimCall::GetPixelSize, "GetPixelSize"))
        return 0;
    if (widthMm == nullptr || heightMm == nullptr)
        return Fail("GetPixelSize(): no result variable");
    *widthMm = m_config.pixelWidthMm;
    *heightMm = m_config.pixelHeightMm;
    return 1;
}

int CSimCamera::GetClippingLimits(int32_t axis, int32_t* minimum, int32_t* maximum,
                                  int32_t* increment, int) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!Ready(SimCall::GetClippingLimits, "GetClippingLimits"))
        return 0;
    if (minimum == nullptr || maximum == nullptr || increment == nullptr)
        return Fail("GetClippingLimits(): no result variable");
    if (!ClipLimits(m_config, axis, *minimum, *maximum, *increment))
        return Fail("GetClippingLimits(): unknown axis %d", axis);
    return 1;
}

bool CSimCamera::SetExposure(double milliseconds, int) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!Ready(SimCall::SetExposure, "SetExposure"))
        return false;
    if (!InRange(milliseconds, m_config.exposureMin, m_config.exposureMax))
        return Fail("SetExposure(): %g ms outside %g..%g ms", milliseconds, m_config.exposureMin,
                    m_config.exposureMax);
    m_settings.exposure = milliseconds;
    return true;
}

bool CSimCamera::GetExposure(double* milliseconds, int) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!Ready(SimCall::GetExposure, "GetExposure"))
        return false;
    if (milliseconds == nullptr)
        return Fail("GetExposure(): no result variable");
    *milliseconds = m_settings.exposure;
    return true;
}

bool CSimCamera::SetFrameRate(double framesPerSecond, int) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!Ready(SimCall::SetFrameRate, "SetFrameRate"))
        return false;
    if (!InRange(framesPerSecond, m_config.frameRateMin, m_config.frameRateMax))
        return Fail("SetFrameRate(): %g fps outside %g..%g fps", framesPerSecond,
                    m_config.frameRateMin, m_config.frameRateMax);
    m_settings.frameRate = framesPerSecond;
    m_acquisition.SetFrameRate(framesPerSecond);
    return true;
}

bool CSimCamera::GetFrameRate(double* framesPerSecond, int) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!Ready(SimCall::GetFrameRate, "GetFrameRate"))
        return false;
    if (framesPerSecond == nullptr)
        return Fail("GetFrameRate(): no result variable");
    *framesPerSecond = m_settings.frameRate;
    return true;
}

bool CSimCamera::SetGain(double gain, int) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!Ready(SimCall::SetGain, "SetGain"))
        return false;
    if (!InRange(gain, m_config.gainMin, m_config.gainMax))
        return Fail("SetGain(): %g outside %g..%g", gain, m_config.gainMin, m_config.gainMax);
    m_settings.gain = gain;
    return true;
}

bool CSimCamera::GetGain(double* gain, int) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!Ready(SimCall::GetGain, "GetGain"))
        return false;
    if (gain == nullptr)
        return Fail("GetGain(): no result variable");
    *gain = m_settings.gain;
    return true;
}

bool CSimCamera::SetClippingRegion(int32_t x, int32_t y, uint32_t width, uint32_t height, int) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!Ready(SimCall::SetClippingRegion, "SetClippingRegion"))
        return false;
    std::string why;
    if (!NormaliseClip(m_config, x, y, width, height, why))
        return Fail("SetClippingRegion(): %s", why.c_str());
    m_settings.clipX = x;
    m_settings.clipY = y;
    m_settings.clipWidth = width;
    m_settings.clipHeight = height;
    PublishGeometry();
    return true;
}

bool CSimCamera::SetSmartParam(const CSmartCamParamBase* param, int) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!Ready(SimCall::SetSmartParam, "SetSmartParam"))
        return false;
    if (!m_config.HasSmartParams())
        return Fail("SetSmartParam(): camera %s has no parameter block",
                    m_config.deviceName.c_str());
    const auto* block = dynamic_cast<const CParamKR7700*>(param);
    if (block == nullptr)
        return Fail("SetSmartParam(): the camera takes a %s parameter block, not %s",
                    CParamKR7700::KindName, param ? param->GetKindName() : "none");
    std::string why;
    if (!CheckParam(*block, why))
        return Fail("SetSmartParam(): %s", why.c_str());
    m_settings.param.CopyFrom(*block);
    return true;
}

bool CSimCamera::GetSmartParam(CSmartCamParamBase* param, int) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!Ready(SimCall::GetSmartParam, "GetSmartParam"))
        return false;
    if (!m_config.HasSmartParams())
        return Fail("GetSmartParam(): camera %s has no parameter block",
                    m_config.deviceName.c_str());
    auto* block = dynamic_cast<CSmartCamParamValue*>(param);
    if (block == nullptr || !block->CopyFrom(m_settings.param))
        return Fail("GetSmartParam(): the camera has a %s parameter block, not %s",
                    CParamKR7700::KindName, param ? param->GetKindName() : "none");
    return true;
}

bool CSimCamera::SetScanningMode(int32_t mode, int) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!Ready(SimCall::SetScanningMode, "SetScanningMode"))
        return false;
    if (mode != ScanMode_FullFrame && mode != ScanMode_Partial)
        return Fail("SetScanningMode(): unknown mode %d", mode);
    m_settings.scanningMode = mode;
    return true;
}

bool CSimCamera::SetDataTransferVolume(int32_t mode, int) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!Ready(SimCall::SetDataTransferVolume, "SetDataTransferVolume"))
        return false;
    if (mode < 0 || mode > 3)
        return Fail("SetDataTransferVolume(): unknown transfer mode %d", mode);
    m_settings.transferVolume = mode;
    return true;
}

bool CSimCamera::FlashSettings(int) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!Ready(SimCall::FlashSettings, "FlashSettings"))
        return false;
    if (!m_config.flashFile.empty()) {
        std::string why;
        if (!WriteFileAtomically(m_config.flashFile,
                                 FlashText(m_settings, m_config.HasSmartParams()), why))
            return Fail("FlashSettings(): %s", why.c_str());
    } else {
        m_flash[m_config.serialNumber] = m_settings;
    }
    ++m_flashCount;
    return true;
}

bool CSimCamera::SetLightIntensity(int32_t channel, double intensity, int) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!Ready(SimCall::SetLightIntensity, "SetLightIntensity"))
        return false;
    if (channel < 0 || static_cast<uint32_t>(channel) >= m_config.lightChannels)
        return Fail("SetLightIntensity(): no light channel %d", channel);
    if (!InRange(intensity, m_config.lightMin, m_config.lightMax))
        return Fail("SetLightIntensity(): %g outside %g..%g", intensity, m_config.lightMin,
                    m_config.lightMax);
    m_settings.lightIntensity = intensity;
    return true;
}

bool CSimCamera::GetLightIntensity(int32_t channel, double* intensity, int) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!Ready(SimCall::GetLightIntensity, "GetLightIntensity"))
        return false;
    if (channel < 0 || static_cast<uint32_t>(channel) >= m_config.lightChannels)
        return Fail("GetLightIntensity(): no light channel %d", channel);
    if (intensity == nullptr)
        return Fail("GetLightIntensity(): no result variable");
    *intensity = m_settings.lightIntensity;
    return true;
}

bool CSimCamera::SetTriggerMode(int32_t channel, int32_t mode, int) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!Ready(SimCall::SetTriggerMode, "SetTriggerMode"))
        return false;
    if (channel < 0 || static_cast<uint32_t>(channel) >= m_config.lightChannels)
        return Fail("SetTriggerMode(): no light channel %d", channel);
    if (mode < 0 || mode > m_config.triggerModeMax)
        return Fail("SetTriggerMode(): mode %d outside 0..%d", mode, m_config.triggerModeMax);
    m_settings.triggerMode = mode;
    return true;
}

bool CSimCamera::GetTriggerMode(int32_t channel, int32_t* mode, int) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!Ready(SimCall::GetTriggerMode, "GetTriggerMode"))
        return false;
    if (channel < 0 || static_cast<uint32_t>(channel) >= m_config.lightChannels)
        return Fail("GetTriggerMode(): no light channel %d", channel);
    if (mode == nullptr)
        return Fail("GetTriggerMode(): no result variable");
    *mode = m_settings.triggerMode;
    return true;
}

bool CSimCamera::GetCameraInfo(std::string* xml, int) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!Ready(SimCall::GetCameraInfo, "GetCameraInfo"))
        return false;
    if (xml == nullptr)
        return Fail("GetCameraInfo(): no result text");
    *xml = m_config.hasCameraInfo ? m_config.cameraInfo : SelfDescription(m_config);
    return true;
}

const char* CSimCamera::GetLastErrorText(int) {
    return t_lastError.c_str();
}

void CSimCamera::SetTemperature(double celsius) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_config.temperature = celsius;
    m_acquisition.SetTemperature(m_config.temperatureSensor, celsius);
}

bool CSimCamera::InjectFault(SimFault fault, uint64_t exposure, uint32_t count) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_initialised || count == 0)
        return false;
    FaultRule rule;
    rule.fault = fault;
    rule.first = exposure == 0 ? 1 : exposure;
    rule.last = fault == SimFault::Stall ? rule.first : rule.first + count - 1;
    rule.stallMs = fault == SimFault::Stall ? count : 0;
    m_acquisition.AddFault(rule, exposure == 0);
    return true;
}

void CSimCamera::SetCallFailure(SimCall call, bool fail) {
    if (call < SimCall::Count)
        m_failures[static_cast<size_t>(call)].store(fail);
}

bool CSimCamera::Emit(const SimFrame* frame) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_initialised)
            return false;
    }
    return m_acquisition.Emit(frame);
}

SimState CSimCamera::State() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    SimState state;
    state.initialised = m_initialised;
    state.grabbing = m_acquisition.Grabbing();
    state.mode = m_acquisition.Mode();
    state.scanningMode = m_settings.scanningMode;
    state.transferVolume = m_settings.transferVolume;
    state.flashCount = m_flashCount;
    state.configFile = m_configFiles;
    return state;
}

uint32_t CSimCamera::PatternPixel(uint32_t counter, uint64_t x, uint64_t y) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return SimPattern::Pixel(m_config.bytesPerPixel, m_config.bitsPerPixel, m_config.width, counter,
                             x, y);
}

} // namespace Vyx::sim
