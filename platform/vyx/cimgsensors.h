#pragma once
// The camera object of the camera device library. A caller gets it from
// CImgSensors::GetInstance and drives it through the virtual operations below,
// whose order is the library's binary interface. Every operation takes a
// trailing argument 0 and returns true on success (1 where it returns an
// integer); on failure GetLastErrorText says why.
//
// Units: exposure in milliseconds, frame rate in frames per second, pixel size
// in millimetres, clipping in pixels of the full frame.

#include "platform/vyx/cimgbuffer.h"
#include "platform/vyx/csmartcamparam.h"
#include "platform/vyx/vyxapi.h"

#include <cstdint>
#include <set>
#include <string>

namespace Vyx {

// Result of CImgSensors::GetImageInfo.
struct VYX_API CImageInfo {
    uint32_t imageWidth = 0; // largest image the sensor delivers
    uint32_t imageHeight = 0;
    uint32_t memoryWidth = 0; // the full frame in memory (row pitch and rows)
    uint32_t memoryHeight = 0;
    int32_t clipX = 0; // current clipping region
    int32_t clipY = 0;
    uint32_t clipWidth = 0;  // 0: the memory width
    uint32_t clipHeight = 0; // 0: the memory height
    // Bytes one pixel takes in memory; the camera machine stores it as mem_bpp
    // and sizes image blocks and preview memory with it.
    uint32_t memoryBytesPerPixel = 0;
    uint32_t arrangement = 0; // pixel arrangement code (0: plain rows)
    // 2: 8 bit, 4: 10 bit, 6 and 200: 12 bit, 16: 16 bit, 21/22/34/38: 24 bit
    uint32_t pixelFormat = 0;
};

// Numbers GetImageMemoryCaps puts into its set.
enum : int32_t {
    ImgCap_TemperatureSensor = 0, // frames carry attribute ImgAttr_Temperature
    ImgCap_PartialScan = 1,       // SetScanningMode(2) reads out the clipping region only
    ImgCap_LightControl = 2,      // Set/GetLightIntensity and Set/GetTriggerMode work
    ImgCap_SmartParams = 3,       // the camera has an on-board parameter block
};

// Axes of GetClippingLimits.
enum : int32_t {
    ClipAxis_OffsetX = 0,
    ClipAxis_OffsetY = 1,
    ClipAxis_Width = 2,
    ClipAxis_Height = 3,
};

// Scanning modes of SetScanningMode.
enum : int32_t {
    ScanMode_FullFrame = 1,
    ScanMode_Partial = 2,
};

class VYX_API CImgSensors {
public:
    // The connected camera, or null when there is none. The object lives as long
    // as the process; it is not deleted by the caller.
    static CImgSensors* GetInstance();

    // Opens the device. configFile names the INI file (may be null) whose
    // [GenICam] section chooses a GenICam camera (genicamconfig.h) or, without
    // one, whose [SimCamera] section configures the simulated camera. Below 0:
    // failed; 0: already initialised; above 0: done.
    virtual int Initialize(const char* configFile, int reserved = 0) = 0;
    // Stops acquisition, drops every stream callback and releases the device.
    virtual bool Uninitialize(int reserved = 0) = 0;

    // callback(context, image, flags) is called for every acquired frame. The
    // same pair may be registered more than once and is then called as often.
    virtual bool RegisterImgStreamInput(void* context, ImgStreamCallback callback,
                                        int reserved = 0) = 0;
    // Removes the first registration of exactly this pair. When it returns (on
    // any thread but the acquisition thread) the callback runs no more.
    virtual bool UnregisterImgStreamInput(void* context, ImgStreamCallback callback,
                                          int reserved = 0) = 0;

    // Start / stop continuous acquisition. Frame counters restart at 1 with every
    // Grab. When Freeze returns, no callback runs any more.
    virtual bool Grab(int reserved = 0) = 0;
    virtual bool Freeze(int reserved = 0) = 0;

    virtual bool GetImageInfo(CImageInfo* info, int reserved = 0) = 0;
    // Fills caps with the ImgCap_ numbers of what the camera has.
    virtual bool GetImageMemoryCaps(std::set<int32_t>* caps, int reserved = 0) = 0;
    // Pixel width and height in mm; 1 on success.
    virtual int GetPixelSize(double* widthMm, double* heightMm, int reserved = 0) = 0;
    // Smallest, largest and step of one ClipAxis_ value; 1 on success.
    virtual int GetClippingLimits(int32_t axis, int32_t* minimum, int32_t* maximum,
                                  int32_t* increment, int reserved = 0) = 0;

    // Values outside the camera's range are refused and leave the setting as it was.
    virtual bool SetExposure(double milliseconds, int reserved = 0) = 0;
    virtual bool GetExposure(double* milliseconds, int reserved = 0) = 0;
    virtual bool SetFrameRate(double framesPerSecond, int reserved = 0) = 0;
    virtual bool GetFrameRate(double* framesPerSecond, int reserved = 0) = 0;
    virtual bool SetGain(double gain, int reserved = 0) = 0;
    virtual bool GetGain(double* gain, int reserved = 0) = 0;

    // Region of the full frame the camera reads out. Width and height of 0 mean
    // the full frame. A region off the sensor, below the minimum size or off the
    // increments of GetClippingLimits is refused.
    virtual bool SetClippingRegion(int32_t x, int32_t y, uint32_t width, uint32_t height,
                                   int reserved = 0) = 0;

    // The camera's on-board parameter block (cameras with ImgCap_SmartParams;
    // the KR7700 takes a CParamKR7700).
    virtual bool SetSmartParam(const CSmartCamParamBase* param, int reserved = 0) = 0;
    virtual bool GetSmartParam(CSmartCamParamBase* param, int reserved = 0) = 0;

    // ScanMode_FullFrame or ScanMode_Partial.
    virtual bool SetScanningMode(int32_t mode, int reserved = 0) = 0;
    // Transfer mode of the camera's data link (0 to 3).
    virtual bool SetDataTransferVolume(int32_t mode, int reserved = 0) = 0;
    // Makes the current parameters the camera's power-on parameters.
    virtual bool FlashSettings(int reserved = 0) = 0;

    // Light channel 0 (the only one), intensity in percent and trigger mode.
    virtual bool SetLightIntensity(int32_t channel, double intensity, int reserved = 0) = 0;
    virtual bool GetLightIntensity(int32_t channel, double* intensity, int reserved = 0) = 0;
    virtual bool SetTriggerMode(int32_t channel, int32_t mode, int reserved = 0) = 0;
    virtual bool GetTriggerMode(int32_t channel, int32_t* mode, int reserved = 0) = 0;

    // XML self-description, UTF-8:
    // <Info><Item key="manufacturer" value="..."/>...</Info>
    virtual bool GetCameraInfo(std::string* xml, int reserved = 0) = 0;

    // English text of the last failure of an operation on the calling thread.
    virtual const char* GetLastErrorText(int reserved = 0) = 0;

protected:
    virtual ~CImgSensors();
};

} // namespace Vyx
