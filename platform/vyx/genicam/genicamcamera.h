#pragma once
// A GenICam camera behind CImgSensors, driven through Aravis: settings map onto the camera's
// standard features (exposure, gain, frame rate, OffsetX/OffsetY/Width/Height, PixelFormat,
// TriggerMode, DeviceTemperature, user sets), identity and sensor size come from its device
// features, and each Grab runs a CGenicamSession.
//
// Locks: m_lifecycle serialises Initialize and Uninitialize, m_acquisition Grab and Freeze;
// m_mutex guards the device and the state below it and is never held while a callback runs
// or a stream thread is joined, so callbacks may call any operation but Initialize,
// Uninitialize and Grab (and Freeze, which then stops the stream without waiting for it).

#include "platform/vyx/cimgsensors.h"
#include "platform/vyx/genicam/genicampixelformat.h"
#include "platform/vyx/genicam/genicamreceivers.h"
#include "platform/vyx/genicam/genicamsession.h"
#include "platform/vyx/genicamconfig.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

typedef struct _ArvCamera ArvCamera;

namespace Vyx::genicam {

class CGenicamCamera final : public CImgSensors {
public:
    static CGenicamCamera& Instance();

    // Opens the configured camera; results as Initialize.
    int Open(const GenicamConfig& config);

    // Reached only through Open: the configuration comes as a parsed section.
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

    // The network stream's figures of the running or last acquisition; false with the reason
    // when the camera is not a GigE Vision one or none ran since it opened.
    bool Statistics(CStreamStatistics& statistics, std::string& why);

    ~CGenicamCamera() override;

private:
    struct Limits {
        int32_t minimum = 0, maximum = 0, increment = 1;
    };
    struct Region {
        int32_t x = 0, y = 0;
        uint32_t width = 0, height = 0;
        bool operator==(const Region&) const = default;
    };
    // Memory of the stream buffers, kept until Uninitialize: a callback may keep a frame's
    // pixel pointer beyond the frame.
    struct Pool {
        size_t bytes = 0;
        std::vector<std::unique_ptr<uint8_t[]>> blocks;
    };

    CGenicamCamera() = default;

    // Under m_mutex: initialised; sets the error text otherwise.
    bool Ready(const char* operation) const;
    // Under m_mutex: initialised and the camera still answers.
    bool Answers(const char* operation) const;
    // Under m_mutex: the camera stops acquiring, unless it is gone.
    void StopCamera();
    // The device's "control-lost" signal, on Aravis's heartbeat thread.
    static void OnControlLost(void* device, void* self);
    // Under m_mutex, on a fresh device: everything Open reads and sets up.
    bool Prepare(const GenicamConfig& config);
    bool ChoosePixelFormat(const std::string& wanted);
    // Packet size and socket of a GigE Vision stream.
    bool PrepareNetwork(const GenicamConfig& config);
    bool ReadGeometry();
    std::string SelfDescription() const;
    bool ReadRegion(Region& region, std::string& why);
    // The camera temperature, read at most once a second; never blocks (stream thread).
    bool Temperature(double& celsius);
    // Stops and ends the running acquisition; not on its thread. Takes m_mutex itself.
    void StopAcquisition();
    // Under m_mutex: keeps the figures of a session that ends.
    void KeepStatistics(const CGenicamSession& session);
    // A pool of config.buffers blocks of at least `bytes`, made or reused under m_mutex.
    Pool& PoolFor(size_t bytes);

    mutable std::mutex m_lifecycle;
    std::mutex m_acquisition;
    mutable std::mutex m_mutex; // everything below
    bool m_initialised = false;
    ArvCamera* m_camera = nullptr;
    GenicamConfig m_config;
    const PixelFormatInfo* m_format = nullptr;
    uint32_t m_sensorWidth = 0, m_sensorHeight = 0;
    Limits m_limits[4]; // by ClipAxis_
    bool m_offsetsAvailable = false;
    Region m_region;
    double m_pixelWidthMm = 0, m_pixelHeightMm = 0;
    bool m_hasTemperature = false;
    std::string m_deviceId, m_manufacturer, m_model, m_serialNumber, m_version, m_firmware,
        m_protocol;
    NetworkOptions m_network;
    bool m_gige = false;
    std::string m_interfaceAddress, m_cameraAddress;
    std::optional<CStreamStatistics> m_statistics; // of the last session that ended
    std::vector<Pool> m_pools;
    FrameRecords m_records;
    std::unique_ptr<CGenicamSession> m_session; // the running acquisition
    std::unique_ptr<CGenicamSession> m_stopped; // frozen from its own thread, ended later

    CGenicamReceivers m_receivers;
    std::atomic<bool> m_controlLost{false}; // set on Aravis's heartbeat thread
    std::atomic<double> m_celsius{0};
    std::atomic<int64_t> m_celsiusReadNs{0}; // when m_celsius was read (0: never)
};

} // namespace Vyx::genicam
