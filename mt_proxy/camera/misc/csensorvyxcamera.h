#pragma once
// CSensorVyxCamera: the sensor of a camera probe system, on the camera device library.
//
// It maps the camera's settings onto channels (image geometry, gain, shutter, frame rate,
// light), starts and stops the image acquisition when the machine starts and stops measuring,
// hands every image to the module's image receivers (cimagereceivers.h), and keeps a
// description of the camera as an INI document ([Camera], see save_hardware_info), which the
// camera machine reads to size its images.
//
// The channels have no value array of their own: values are read from and written to the
// camera. "imageoffsetx" and "imageoffsety" are offsets of the clipping region from the
// centred position (that is what setting them means and what their limits describe); the
// hardware data holds the region's position in the full frame as "clip_x" and "clip_y".
//
// Abstract: CSensorCamera and CSensorFiber give the class name and the type list.
//
// The camera object belongs to the library and lives as long as the process; the sensor
// borrows it from GetInstance on and releases the device (its image callback, then the
// device itself) when it is destroyed.

#include "csensor/sensors/csensorbase.h"
#include "mt_proxy/camera/misc/cimagereceivers.h"
#include "platform/vyx/vyxbase.h"

#include <cstdint>
#include <memory>
#include <string>

// What the camera says about itself (its XML self-description).
struct CVyxCameraIdentity {
    std::string manufacturer = "unknown";
    std::string deviceName = "unknown";
    std::string productVersion = "<unknown>";
    std::string serialNumber = "unknown";
    std::string dllVersion = "<unknown>";
    std::string driverVersion = "<unknown>";
    std::string cpldVersion = "<unknown>";
    std::string bootloaderVersion = "<unknown>";
    std::string fpgaVersion = "<unknown>";
};

// The image geometry as the sensor last read or set it.
struct CVyxImageGeometry {
    uint32_t imageWidth = 0; // current image (the clipping region)
    uint32_t imageHeight = 0;
    int32_t clipX = 0; // position of the clipping region in the full frame
    int32_t clipY = 0;
    uint32_t memoryWidth = 0; // the full frame
    uint32_t memoryHeight = 0;
    uint32_t reportedWidth = 0; // largest image, as the camera reports it
    uint32_t reportedHeight = 0;
    uint32_t memoryBytesPerPixel = 0;
    uint32_t arrangement = 0;
    uint32_t bitsPerPixel = 0;
    uint32_t pixelFormat = 0;
};

// Significant bits of a pixel format code; unknown codes give 8 and an error-log line.
uint32_t CSensorVyxCamera_GetBitsPerPixel(uint32_t pixelFormat);

class CSensorVyxCamera : public CSensorBase {
public:
    // Opens the connected camera (with "vyxcamera.ini" of the camera configuration directory,
    // when that is set), registers the module's image callback and creates the sensor for
    // it: a CSensorFiber for the ABS KR7700, a CSensorCamera for any other camera. Null when
    // there is no camera, it will not start, is already open, or the sensor cannot be built.
    // The probe manager registers this under "Vyxcamera".
    static std::unique_ptr<CSensor> GetInstance();

    // `camera` has been initialised and carries the module's image callback. When the sensor
    // cannot be built on it, it lets go of the camera: IsCameraAvailable() is then false.
    explicit CSensorVyxCamera(Vyx::CImgSensors* camera);
    ~CSensorVyxCamera() override;

    bool IsCameraAvailable() const { return m_camera != nullptr; }
    const CVyxCameraIdentity& GetIdentity() const { return m_identity; }
    const CVyxImageGeometry& GetImageGeometry() const { return m_geometry; }
    // The user data holds [Camera] "DC_DATA" (not 0).
    bool HasDcData() const { return m_dcData; }

    // The configuration data every camera sensor starts from.
    static const char* ChannelTemplate();

    // Reads the self-description; items missing or empty keep their defaults.
    static bool get_camera_info(Vyx::CImgSensors& camera, CVyxCameraIdentity& identity);

    // ---- Overrides ----

    const char* GetName() const override { return m_identity.deviceName.c_str(); }
    const char* GetSerialNo() const override { return m_identity.serialNumber.c_str(); }
    // The type list of the class.
    const char* GetTypeInfo() const override { return GetSensorTypeList(); }

    // flag 0: `data` is a CImageReceiver to append to the image receivers; flag 1: remove the
    // first equal one. Other flags are refused.
    bool SetPropertyData(int flag, const void* data) override;
    // Installs the channels, takes the image channels' limits from the camera and sets the
    // camera's gain and shutter where [Camera] "gain" and "shutter" hold numbers.
    bool SetPropertyData(std::string_view text) override;
    using CSensorBase::SetPropertyData;
    // Stores the data; [Geometry] "ProbeType" must be there.
    bool SetConfigData(std::string_view text) override;
    bool SetUserData(std::string_view text) override;
    // The camera description of save_hardware_info.
    bool GetHardwareData(std::string& text) override;

    bool IsPropertyListChanged() override { return !m_changed.empty(); }
    bool TakeChangedProperties(CSensorChannelTable& changed) override;

    // Reads the channel from the camera.
    bool GetPropertyValue(const char* name, double* value) override;
    bool GetPropertyValue(int index, double* value) override;
    // Sets the camera, in name order; geometry channels are collected and set as one clipping
    // region at the end. Names that are no camera setting are left alone.
    bool SetPropertyValue(const CSensorValueMap& values) override;
    bool SetPropertyValue(const char* name, double value) override;
    bool SetPropertyValue(int index, double value) override;
    bool GetPropertyOffset(const char* name, double* value) override;
    bool GetPropertyOffset(int index, double* value) override;
    bool SetPropertyOffset(const char* name, double value) override;
    bool SetPropertyOffset(int index, double value) override;
    using CSensorBase::SetPropertyFifoAddress;
    bool SetPropertyFifoAddress(int index, double* address) override;
    void UpdatePropertyFifoValues() override {}
    bool Activate() override { return true; }
    bool Deactivate() override { return true; }
    // On: Grab and set the values saved at the last stop again. Off (while measuring): save
    // the channel values and Freeze.
    bool SetMeasurement(bool on) override;
    bool CheckSensorState() override { return true; }
    // A value from the probe tip's capabilities ("gain.default" and the like) goes to the
    // camera like any other.
    bool SetPropertyValueFromLink(const char* name, double value) override;
    int32_t GetInterfaceLevel() const override { return 2; }

protected:
    Vyx::CImgSensors* Camera() const { return m_camera; }
    // Lets go of the camera after a failed construction.
    void DropCamera() { m_camera = nullptr; }

    // Limits of the image channels from the camera (after every SetPropertyData).
    bool take_image_channel_limits();
    // Writes [Camera] of the hardware data from the camera's current settings.
    bool save_hardware_info();
    bool change_image_geometry(int32_t x, int32_t y, uint32_t width, uint32_t height);

    // Sets the DC-data flag from the stored user data.
    void read_dc_data_flag();

private:
    void store_geometry(const Vyx::CImageInfo& info);
    bool save_properties(CSensorValueMap& values);
    // Offset of the clipping region from the centred position.
    int32_t centred_offset_x() const;
    int32_t centred_offset_y() const;
    // v aligned to "max minus a multiple of step" within [min, max] (step 0 counts as 1).
    static int64_t align(int64_t v, int64_t min, int64_t max, int64_t step);
    void set_offset_limits(const char* name, uint32_t memory, uint32_t size, bool changed);

    Vyx::CImgSensors* m_camera = nullptr;
    MIniData m_hardwareInfo;
    CVyxImageGeometry m_geometry;
    CVyxCameraIdentity m_identity;
    CSensorChannelTable m_changed; // descriptions changed with the geometry, not yet taken
    CSensorValueMap m_savedValues; // channel values at the last stop of the acquisition
    bool m_dcData = false;
};
