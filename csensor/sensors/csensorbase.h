#pragma once
// CSensorBase: the common base of every concrete sensor.
//
// On top of the channel table of CSensor it keeps a value per channel (raw value, offset and
// the place where the value is published), quantises, limits and passes on the values the
// protocol sets, reads what the configuration data, hardware properties, geometry data and
// user data say about the probe system and its tip, and drains the error queue.
//
// Value rules (SetPropertyValueIndexed): the value is rounded to the channel's step, clamped
// to its limits unless the channel is linked (a master is clamped anyway) or has access "I",
// and stored as raw = value - offset. An unlinked channel publishes its raw value; a linked
// channel queues it for its sibling (PushSiblingValue) instead, unless the value came from
// that sibling (SetPropertyValueFromLink).
//
// Pointers handed out by the address getters stay valid until the next SetPropertyData.

#include "csensor/sensors/csensor.h"
#include "csensor/sensors/csensorhardwareinputs.h"
#include "csensor/sensors/csensorheadcurve.h"
#include "csensor/sensors/csensorpropertyvalue.h"
#include "csensor/sensors/csensorsimulation.h"
#include "csensor/sensors/csensorsystemdata.h"
#include "csensor/sensors/csensortipdata.h"
#include "csensor/sensors/csensortransform.h"

#include <array>
#include <ctime>
#include <functional>
#include <vector>

class CSensorBase : public CSensor {
public:
    // Builds the value array for the channel table CSensor installed.
    CSensorBase();
    ~CSensorBase() override;

    // ---- Overrides, in interface order ----

    const CSensorHardwareInputs* GetHardwareInputs() const override { return &m_hwInputs; }
    // Asks the function given to SetComponentSearch; 0 when there is none.
    int SearchComponent(const char* name, std::string& data) override;
    // The CompVectorName item of the hardware input the probe system is configured on.
    std::string GetMcCompVectorName(size_t index) const override;
    uint32_t GetMcInputNo() const override;
    std::string GetTipComponentName() const override { return m_tip.componentName; }
    std::string GetCompensationName() const override { return "Compensation"; }
    std::string GetArmName() const override { return m_tip.armName; }
    std::string GetTipName() const override { return m_tip.tipName; }
    std::string GetProbeType() const override { return m_system.probeType; }
    double GetTipLength() const override { return m_tip.length; }
    // Ready, and (where the sensor asks for it) "forcedir" or "deflection" not 0.
    bool SupportMovezero() override;
    // SupportMovezero, and the movement not (nearly) across the probe direction.
    bool SupportMovezeroDirection(double dx, double dy, double dz) override;
    bool HasErrors() override { return HasErrorCodes(); }
    uint32_t GetErrorCode() override { return PopErrorCode(); }
    const char* GetErrorText(uint32_t code) override;
    using CSensor::SetPropertyData;
    bool SetPropertyData(std::string_view text) override;
    bool SetConfigData(std::string_view text) override;
    bool ProbesystemUnload(std::string_view text) override;
    // ProcessUserData (text, true).
    bool SetUserData(std::string_view text) override;
    bool SetFeatures(std::string_view text) override;
    bool GetFeatures(std::string& text) override;
    bool SetHardwareData(std::string_view text) override;
    bool SetHardwareProperties(std::string_view text) override;
    bool SetGeometryData(std::string_view text) override;
    bool GetProbeDirection(double* x, double* y, double* z) override;
    bool GetTipOffset(double* x, double* y, double* z) override;
    bool GetPropertyValue(const char* name, double* value) override;
    bool GetPropertyValue(int index, double* value) override;
    using CSensor::SetPropertyValue;
    bool SetPropertyValue(const char* name, double value) override;
    bool SetPropertyValue(int index, double value) override;
    bool GetPropertyOffset(const char* name, double* value) override;
    bool GetPropertyOffset(int index, double* value) override;
    bool SetPropertyOffset(const char* name, double value) override;
    bool SetPropertyOffset(int index, double value) override;
    bool SetPropertyFifoAddress(const char* name, double* address) override;
    bool SetPropertyFifoAddress(int index, double* address) override;
    double* GetPropertyValueAddress(const char* name) override;
    double* GetPropertyValueAddress(int index) override;
    void UpdatePropertyFifoValues() override;
    double* GetPropertyRawAddress(const char* name) override;
    double* GetPropertyRawAddress(int index) override;
    bool Activate() override;
    bool Deactivate() override;
    bool SetMeasurement(bool on) override;
    bool IsMeasuring() const override { return m_measuring; }
    void SetMachineValue(double value) override { m_machineValue = value; }
    void SetObjectLock(MBitmap2Double* lock) override { m_objectLock = lock; }
    int ReadHardwareProperties() override;

    // ---- Appended virtual operations, in interface order ----

    // 2 in every concrete sensor.
    virtual int32_t GetInterfaceLevel() const = 0;
    // The probe-system types the class serves: "type:code" items separated by blanks
    // ("Camera:1", "ZF290:2 ZF290D:4", "unloaded").
    virtual const char* GetSensorTypeList() const = 0;
    // The central value setter (see the class comment). Error 41 for a bad index.
    virtual bool SetPropertyValueIndexed(int index, double value, bool force);
    // Stores and reads probe tip data (user data). `flag`: the tip angles may be derived
    // from the tip vector, and the computed tip length is used.
    virtual bool ProcessUserData(std::string_view text, bool flag);
    // A value coming from the channel's sibling: forced when the channel links to itself.
    virtual bool SetPropertyValueFromLink(const char* name, double value);
    // Limits derived from the head curve ("force" no higher than the curve reaches).
    virtual bool UpdateSensorProperties();
    // [TSK] Min_<k>/Max_<k> of the hardware data from the measuring ranges and lock limits.
    virtual bool UpdateCollisionLimits();
    // [TSK] back to +-1 for both ranges.
    virtual bool InitCollisionLimits();
    // Probe direction and tip offset from the mounting, matrix and tip angles.
    virtual bool UpdateSensorTransformation();
    // Whether SupportMovezero asks for "forcedir" or "deflection"; no sensor here does.
    virtual bool IsDeflectionTestRequired() const { return false; }
    // [Simulation] of the user data; the number of defaults written.
    virtual int ReadDeflectionSimulation(MIniData& doc);
    // Final check after new configuration or user data.
    virtual bool CheckSensorState() { return true; }

    // ---- Readers (each adds the defaults it wrote back to `changes` or returns them) ----

    bool ReadSystemGeometry(MIniData& doc, int& changes);
    // Error 37 when the probe type is not among the accepted types.
    bool ReadSystemProbetype(MIniData& doc, int& changes);
    bool ReadSystemRange(MIniData& doc, int& changes);
    bool ReadSystemMatrix(MIniData& doc, int& changes);
    int ReadTipGeometry(MIniData& doc, bool& tipUnloaded, bool flag);
    // E_<i>, E_<i>_default, M0_<i> of `section` for the three probe axes; a gain outside
    // (0.1, 20) queues error 35 and the default gain is used.
    int ReadTipCalibrationValues(MIniData& doc, const std::string& section, int range);
    int ReadSectionCalibrationState(MIniData& doc, const std::string& section);
    // [capabilities] "<channel>.min", ".max", ".default".
    int ReadCapabilities(MIniData& doc);
    // False (and error 32) when [force] is there but broken.
    bool ReadHeadCurve(MIniData& doc, CSensorHeadCurve& curve, double forceDirection);

    // ---- What the readers found ----

    const CSensorSystemData& GetSystemData() const { return m_system; }
    const CSensorFeatures& GetFeatureDefaults() const { return m_features; }
    const CSensorTipData& GetTipData() const { return m_tip; }
    const CSensorTipCalibration& GetTipCalibration() const { return m_tipCalibration; }
    const CSensorHeadCurve& GetHeadCurve() const { return m_headCurve; }
    const CSensorSimulation& GetSimulation() const { return m_simulation; }
    bool IsForcedirZero() const { return m_forcedirZero; }
    double GetMachineValue() const { return m_machineValue; }
    MBitmap2Double* GetObjectLock() const { return m_objectLock; }

    // The clock the calibration intervals are measured with (tests set a fixed day).
    void SetCalibrationClock(std::function<std::time_t()> clock) { m_clock = std::move(clock); }

    // Quick-access slots of the publish pointers of frequently used channels.
    enum QuickSlot { kU, kV, kW, kHub, kNu, kNv, kNw, kTrigger, kQuickSlots };
    // Null when the sensor has no such channel.
    double* GetQuickAccess(QuickSlot slot) const { return m_quick[slot]; }

protected:
    // Type list of the probe types SetConfigData accepts ("R85Q:1" unless set).
    void SetAcceptedTypes(std::string_view typeList) { m_acceptedTypes.assign(typeList); }
    // The value entry of a valid index, else null (error 41 queued).
    CSensorPropertyValue* ValueEntry(int index);
    // The same, and null (error 41 queued) also when the caller's output or address is null.
    CSensorPropertyValue* ValueEntry(int index, const void* pointer);
    // For sensors whose channels hold no values of their own (the cameras): forgets the value
    // array that construction built for the default channels, with its quick-access pointers.
    void DropPropertyValues();

private:
    void rebuild_values();
    void remember_quick_access();
    bool valid_index(int index) const;
    void publish(CSensorPropertyValue& entry);
    void set_special_force_channels(const CSensorChannelDesc& desc, CSensorPropertyValue& entry,
                                    double value);

    std::vector<CSensorPropertyValue> m_values;
    bool m_valuesBuilt = false;
    std::array<double*, kQuickSlots> m_quick{};

    bool m_active2 = false;
    bool m_movementControl = false;
    bool m_measuring = false;
    bool m_forcedirZero = false;
    double m_probeDirection[3] = {0.0, 0.0, 1.0};
    double m_tipOffsetSum[3] = {0.0, 0.0, 0.0};
    CSensorMatrix m_systemRotation;
    CSensorMatrix m_tipRotation;
    CSensorMatrix m_transformation;

    // Target window saved while a force tolerance overrides it.
    bool m_targetWindowSaved = false;
    bool m_savedControlParametersRead = false;
    double m_savedTargetWindow = 0.0;

    std::string m_acceptedTypes = "R85Q:1";
    CSensorFeatures m_features;
    CSensorSystemData m_system;
    CSensorHardwareInputs m_hwInputs;
    CSensorTipData m_tip;
    CSensorTipCalibration m_tipCalibration;
    CSensorHeadCurve m_headCurve;
    CSensorSimulation m_simulation;
    std::string m_probesystemLoad; // [Geometry] "probesystem_load" of the last unload

    double m_machineValue = 0.0;
    MBitmap2Double* m_objectLock = nullptr;
    std::function<std::time_t()> m_clock;
};
