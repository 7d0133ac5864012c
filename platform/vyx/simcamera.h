#pragma once
// The simulated camera behind CImgSensors: its settings, limits, identity and
// self-description, and the acquisition thread that delivers its frames, of the
// test pattern or of a recording.

#include "platform/vyx/cimgsensors.h"
#include "platform/vyx/simacquisition.h"
#include "platform/vyx/simconfig.h"
#include "platform/vyx/simcontrol.h"
#include "platform/vyx/simflash.h"
#include "platform/vyx/simpattern.h"
#include "platform/vyx/simreplay.h"

#include <array>
#include <atomic>
#include <map>
#include <mutex>
#include <string>

namespace Vyx::sim {

class CSimCamera final : public CImgSensors {
public:
    static CSimCamera& Instance();

    int Initialize(const char* configFile, int reserved) override;
    bool Uninitialize(int reserved) override;
    bool RegisterImgStreamInput(void* context, ImgStreamCallback callback, int reserved) override;
    bool UnregisterImgStreamInput(void* context, ImgStreamCallback callback, int reserved) override;
    bool Grab(int reserved) override;
    bool Freeze(int reserved) override;
    bool GetImageInfo(CImageInfo* info, int reserved) override;
    bool GetImageMemoryCaps(std::set<int32_t>* caps, int reserved) override;
    int GetPixelSize(double* widthMm, double* heightMm, int reserved) override;
    int GetClippingLimits(int32_t axis, int32_t* minimum, int32_t* maximum, int32_t* increment,
                          int reserved) override;
    bool SetExposure(double milliseconds, int reserved) override;
    bool GetExposure(double* milliseconds, int reserved) override;
    bool SetFrameRate(double framesPerSecond, int reserved) override;
    bool GetFrameRate(double* framesPerSecond, int reserved) override;
    bool SetGain(double gain, int reserved) override;
    bool GetGain(double* gain, int reserved) override;
    bool SetClippingRegion(int32_t x, int32_t y, uint32_t width, uint32_t height,
                           int reserved) override;
    bool SetSmartParam(const CSmartCamParamBase* param, int reserved) override;
    bool GetSmartParam(CSmartCamParamBase* param, int reserved) override;
    bool SetScanningMode(int32_t mode, int reserved) override;
    bool SetDataTransferVolume(int32_t mode, int reserved) override;
    bool FlashSettings(int reserved) override;
    bool SetLightIntensity(int32_t channel, double intensity, int reserved) override;
    bool GetLightIntensity(int32_t channel, double* intensity, int reserved) override;
    bool SetTriggerMode(int32_t channel, int32_t mode, int reserved) override;
    bool GetTriggerMode(int32_t channel, int32_t* mode, int reserved) override;
    bool GetCameraInfo(std::string* xml, int reserved) override;
    const char* GetLastErrorText(int reserved) override;

    // What SimControl reaches.
    void SetConnected(bool connected) { m_connected.store(connected); }
    bool Connected() const { return m_connected.load(); }
    void SetMode(SimMode mode) { m_acquisition.SetMode(mode); }
    void SetTemperature(double celsius);
    bool InjectFault(SimFault fault, uint64_t exposure, uint32_t count);
    void ClearFaults() { m_acquisition.ClearFaults(); }
    void SetCallFailure(SimCall call, bool fail);
    bool Emit(const SimFrame* frame);
    SimStats Stats() const { return m_acquisition.Stats(); }
    SimState State() const;
    uint32_t PatternPixel(uint32_t counter, uint64_t x, uint64_t y) const;

    ~CSimCamera() override;

private:
    CSimCamera() = default;

    // Under m_mutex: initialised and not told to fail; sets the error text otherwise.
    bool Ready(SimCall call, const char* operation) const;
    // Hands the clipping region to the acquisition thread.
    void PublishGeometry();
    int InitializeFrom(const char* configFile);

    mutable std::mutex m_lifecycle; // one Initialize or Uninitialize at a time
    mutable std::mutex m_mutex;     // everything below
    bool m_initialised = false;
    SimConfig m_config;
    SimSettings m_settings;
    std::string m_configFiles;
    uint32_t m_flashCount = 0;
    std::map<std::string, SimSettings> m_flash; // in-process flash memory, by serial number

    std::atomic<bool> m_connected{true};
    std::array<std::atomic<bool>, static_cast<size_t>(SimCall::Count)> m_failures{};

    SimPattern m_pattern;
    SimReplay m_replay; // what the camera plays instead of the pattern, when it has a recording
    SimAcquisition m_acquisition;
};

} // namespace Vyx::sim
