#pragma once
// CSensorFiber: the camera sensor of the fibre-optic probe (types "ZF290" and "ZF290D"), on
// the ABS KR7700 camera.
//
// The camera keeps an on-board parameter block (light, automatic exposure, CIF mode, a
// 2048-entry look-up table, DAC range) that the sensor reads and writes as a whole. The
// property data carries the look-up table (base64 of one "%f" line per entry) and the DAC
// range in [Camera]; the user data carries CIFMode, QLimit, ErrMaxCnt, AESpeed, PhaseOff and
// TransferMode; the channel "light" is the block's light value.
//
// The camera acquires from construction to destruction. The values of the writable channels
// survive a restart in "csensorfiber.ini" ([SavedPositions]) of the fibre configuration
// directory, which the user data names in [Configdir] "dir": read when the user data arrives,
// written when the sensor goes.

#include "mt_proxy/camera/misc/csensorvyxcamera.h"

#include <string>

class CSensorFiber : public CSensorVyxCamera {
public:
    explicit CSensorFiber(Vyx::CImgSensors* camera);
    // Freezes the camera and saves the writable channels' values.
    ~CSensorFiber() override;

    // The configuration data of the fibre sensor.
    static const char* ChannelTemplate();
    // Name of the saved positions file in the fibre configuration directory.
    static constexpr const char* kPositionsFile = "csensorfiber.ini";

    const Vyx::CParamKR7700& GetParameters() const { return m_param; }
    bool IsCifModeFixed() const { return m_cifModeFixed; }
    const std::string& GetConfigDir() const { return m_configDir; }

    // ---- Overrides ----

    const char* GetSensorClass() const override { return "ZF290"; }
    const char* GetSensorTypeList() const override { return "ZF290:2 ZF290D:4"; }

    using CSensorVyxCamera::SetPropertyData;
    // Only data with [Camera] "send" reaches the camera: channels, then the look-up table and
    // DAC range of [Camera] into the parameter block ("make_persistent" flashes it).
    bool SetPropertyData(std::string_view text) override;
    using CSensorVyxCamera::GetPropertyData;
    // The processed property data with the current look-up table and DAC range.
    bool GetPropertyData(std::string& text) override;
    bool SetConfigData(std::string_view /*text*/) override { return true; }
    bool SetUserData(std::string_view text) override;
    // The user data, with the camera keys it lacks added from the current parameters.
    bool GetUserData(std::string& text) override;
    using CSensorVyxCamera::GetPropertyValue;
    bool GetPropertyValue(const char* name, double* value) override;
    using CSensorVyxCamera::SetPropertyValue;
    bool SetPropertyValue(const CSensorValueMap& values) override;

    bool save_axis_positions();
    bool restore_axes_positions(const std::string& directory);

private:
    bool enable_camera();
    // `text` with the parameter block's look-up table and DAC range in [Camera]; unchanged
    // when that cannot be done.
    std::string add_defaults_to_data(std::string_view text);
    // Sends the block; on failure reads the camera's block back so both agree again.
    bool send_parameters(const char* caller);
    std::string positions_path() const;

    Vyx::CParamKR7700 m_param;
    bool m_cifModeFixed = false; // the camera runs CIF mode 6 only
    int32_t m_transferMode = 0;  // last TransferMode given to the camera
    std::string m_configDir;
};
