#pragma once
// The camera object CImgSensors::GetInstance hands out. It drives the simulated camera unless
// the configuration file given to Initialize has a [GenICam] section: then it loads the
// GenICam back end and drives the camera named there until Uninitialize. Every other
// operation goes to whichever camera is chosen.

#include "platform/vyx/cimgsensors.h"

#include <atomic>
#include <mutex>

namespace Vyx {

class CCameraSelector final : public CImgSensors {
public:
    static CCameraSelector& Instance();

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

    // The GenICam camera is the chosen one.
    bool GenicamOpen();

private:
    CCameraSelector();
    ~CCameraSelector() override;

    // The chosen camera; the operation about to run on it owns the error text.
    CImgSensors& Chosen() const;
    int OpenGenicam(const char* configFile);

    std::mutex m_lifecycle; // one Initialize or Uninitialize at a time
    std::atomic<CImgSensors*> m_active;
    bool m_genicam = false; // under m_lifecycle: the GenICam camera is open
};

} // namespace Vyx
