#pragma once
// CSensorUnloaded: the placeholder sensor that stands for "no probe system loaded".
//
// It has no channels and accepts whatever the probe manager sends a sensor: data and values
// are taken and dropped (true), while questions it cannot answer (values, offsets, probe
// direction, tip offset) get false.

#include "csensor/sensors/csensorbase.h"

#include <memory>

class CSensorUnloaded : public CSensorBase {
public:
    CSensorUnloaded();
    ~CSensorUnloaded() override;

    // A new placeholder; the probe manager registers this under "unloaded".
    static std::unique_ptr<CSensor> Create();
    // Its configuration data: an empty channel list.
    static const char* ChannelTemplate();

    const char* GetSensorClass() const override { return "unloaded"; }
    int32_t GetInterfaceLevel() const override { return 2; }
    const char* GetSensorTypeList() const override { return "unloaded"; }

    using CSensorBase::SetPropertyData;
    bool SetPropertyData(int index, const void* data) override;
    bool SetConfigData(std::string_view text) override;
    bool SetUserData(std::string_view text) override;
    // Gives an empty document: there is no hardware behind the placeholder.
    bool GetHardwareData(std::string& text) override;
    bool GetProbeDirection(double* x, double* y, double* z) override;
    bool GetTipOffset(double* x, double* y, double* z) override;
    bool GetPropertyValue(const char* name, double* value) override;
    bool GetPropertyValue(int index, double* value) override;
    using CSensorBase::SetPropertyValue;
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
};
