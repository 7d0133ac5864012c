#pragma once
// CSensor: the abstract root of the sensor classes.
//
// A sensor stands for one probe system. It owns the channel table (the named quantities the
// protocol reads and writes), builds it from configuration data, keeps its configuration
// documents as INI texts and named component data, queues values and messages that other
// objects have to pick up, and queues error codes for the protocol side.
//
// The probe manager reaches a sensor only through the virtual operations below; their order
// is part of the sensor interface and must not change. Slots whose use lies outside this
// module are kept as ReservedN operations with their fixed answers.
//
// A sensor has no lock: the probe manager serialises all calls. GetErrorText hands out one
// buffer shared by all sensors, overwritten by the next call.
//
// Subclasses that override one overload of a name (SetPropertyData, GetPropertyValue, ...)
// should bring the others back with a using-declaration.

#include "csensor/sensors/csensorchannel.h"
#include "csensor/sensors/csensorcontrolparameters.h"
#include "msl/mutil/minidata.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <string_view>

class MBitmap2Double; // the probe manager's object-lock bit
struct CSensorHardwareInputs;

// Asked by GetPropertyValueAddress (name) for channels the sensor has no address for.
using CSensorValueAddressLookup = std::function<double*(const char* name)>;
// Finds component data by name; the number of components found (0: none).
using CSensorComponentSearch = std::function<int(const char* name, std::string& data)>;
using CSensorValueMap = std::map<std::string, double>;

// Sensor states.
constexpr int32_t CSENSOR_STATE_NONE = 0;
constexpr int32_t CSENSOR_STATE_READY = 3;

// Answer of GetPropertyIndex for a null or unknown name.
constexpr uint32_t CSENSOR_INVALID_INDEX = 0xFFFFFFFFu;

// Indices of the component vector names written into the configuration data.
constexpr size_t CSENSOR_COMPVECTOR_CA = 0;
constexpr size_t CSENSOR_COMPVECTOR_CB = 1;
constexpr size_t CSENSOR_COMPVECTOR_CC = 2;

class CSensor {
public:
    // Installs the default configuration data (CSensor_GetDefaultConfigData) with
    // CSensor::SetPropertyData; state READY when that succeeds.
    CSensor();
    CSensor(const CSensor&) = delete;
    CSensor& operator=(const CSensor&) = delete;

    // ---- Virtual operations, in interface order ----

    virtual ~CSensor();
    // The hardware-input record; CSensor has none (null).
    virtual const CSensorHardwareInputs* GetHardwareInputs() const { return nullptr; }
    // Runs the function given to SetComponentSearch.
    virtual int SearchComponent(const char* name, std::string& data) = 0;
    // "CSensor"; the subclasses give their class name ("Camera", "ZF290", ...).
    virtual const char* GetSensorClass() const { return "CSensor"; }
    virtual const char* GetName() const { return m_name.c_str(); }
    virtual const char* GetVersion() const { return "0.00-0"; }
    virtual const char* GetSerialNo() const { return m_serialNo.c_str(); }
    // Two texts held by the sensor, empty after construction; the camera sensors hand out
    // their type list from the second.
    virtual const char* GetDescription() const { return m_description.c_str(); }
    virtual const char* GetTypeInfo() const { return m_typeInfo.c_str(); }
    // Component vector names for CSENSOR_COMPVECTOR_CA, _CB and _CC (GetConfigData).
    virtual std::string GetMcCompVectorName(size_t index) const = 0;
    // The hardware input the sensor is configured on; 0: none.
    virtual uint32_t GetMcInputNo() const = 0;
    virtual int32_t Reserved1() const { return 0; }
    // Names and length of the loaded probe tip, and the sensor's compensation component.
    virtual std::string GetTipComponentName() const = 0;
    virtual std::string GetCompensationName() const = 0;
    virtual std::string GetArmName() const = 0;
    virtual std::string GetTipName() const = 0;
    virtual std::string GetProbeType() const = 0;
    virtual double GetTipLength() const = 0;
    virtual int32_t Reserved2() const { return 2; }
    virtual int32_t Reserved3() const { return 0; }
    // CSENSOR_STATE_READY once constructed.
    virtual int32_t GetState() const { return m_state; }
    virtual bool Reserved4() const { return false; }
    virtual bool Reserved5() const { return true; }
    virtual bool SupportMovezero() { return true; }
    virtual bool SupportMovezeroDirection(double dx, double dy, double dz);
    virtual void SetValueAddressLookup(CSensorValueAddressLookup lookup);
    virtual void SetComponentSearch(CSensorComponentSearch search);

    // Error queue as seen by the protocol side. CSensor queues codes but reports none;
    // CSensorBase drains the queue.
    virtual bool HasErrors() { return false; }
    virtual uint32_t GetErrorCode() { return 0; }
    virtual const char* GetErrorText(uint32_t code);

    // Replaces the description of an existing channel (error 39 otherwise).
    virtual bool SetPropertyData(const char* name, const CSensorChannelDesc* desc);
    // `data` is a CSensorChannelDesc for the channel at `index` (error 39 for a bad index).
    // The camera sensors give this slot another meaning: index is a flag, data a receiver.
    virtual bool SetPropertyData(int index, const void* data);
    // Parses configuration data and installs the channel table. Error 32 when it fails.
    virtual bool SetPropertyData(std::string_view text);
    virtual bool GetPropertyData(const char* name, CSensorChannelDesc* desc);
    virtual bool GetPropertyData(int index, CSensorChannelDesc* desc);
    // The processed property data, with every default that was written back.
    virtual bool GetPropertyData(std::string& text);

    // Component data: only for names the sensor registered (error 39); INI text (error 32).
    virtual bool SetComponentData(const char* name, std::string_view text);
    virtual bool GetComponentData(const char* name, std::string& text);

    // Documents. The setters parse first: an invalid text queues error 32 and leaves the
    // stored document as it was.
    virtual bool SetConfigData(std::string_view text);
    // With [ProbeSystem] "LintelChannel_ca", "_cb", "_cc" set from GetMcCompVectorName.
    virtual bool GetConfigData(std::string& text);
    virtual bool ProbesystemUnload(std::string_view text);
    // Stores the user data, then ReadControlParameters.
    virtual bool SetUserData(std::string_view text);
    virtual bool GetUserData(std::string& text);
    // Probe-system feature data: [ProbeSystem] "Range", "RangeTSK", "LockLimitMaxPercent",
    // "LockLimitMinPercent", "dE_Faktor", "DefaultStylusLength_mm", "ProbeSign",
    // "SensorTypeMC".
    virtual bool SetFeatures(std::string_view text) = 0;
    virtual bool GetFeatures(std::string& text) = 0;
    // Clears configuration-data-set.
    virtual bool GetHardwareData(std::string& text);
    virtual bool SetHardwareData(std::string_view text) = 0;
    virtual bool IsConfigDataSet() const { return m_configDataSet; }
    virtual bool SetHardwareProperties(std::string_view text);
    virtual bool GetHardwareProperties(std::string& text);
    virtual bool SetGeometryData(std::string_view text);
    virtual bool GetGeometryData(std::string& text);
    // Copies the control parameters; false when the user data held none (or params null).
    virtual bool GetControlParameters(CSensorControlParameters* params);
    virtual bool HasControlParameters() const { return m_controlParametersRead; }
    // Probe direction (unit vector) and tip offset; each output may be null. Reading clears
    // the matching "changed" flag.
    virtual bool GetProbeDirection(double* x, double* y, double* z) = 0;
    virtual bool IsProbeDirectionChanged() const { return m_probeDirectionChanged; }
    virtual bool GetTipOffset(double* x, double* y, double* z) = 0;
    virtual bool IsInitialised() const { return m_initialised; }

    // Channel table.
    virtual bool HasProperty(const char* name) const;
    virtual uint32_t GetPropertyCount() const { return static_cast<uint32_t>(m_channels.size()); }
    // Sets *count (when given) and copies every description in name order into `descs`
    // (when given; room for GetPropertyCount entries), which also takes the snapshot that
    // IsPropertyListChanged compares with. Both null: error 39.
    virtual bool GetPropertyList(uint32_t* count, CSensorChannelDesc* descs);
    virtual bool IsPropertyListChanged();
    // Hands out descriptions that changed since the last call; CSensor keeps none.
    virtual bool TakeChangedProperties(CSensorChannelTable& changed);
    // Position in name order; CSENSOR_INVALID_INDEX for a null or unknown name.
    virtual uint32_t GetPropertyIndex(const char* name) const;

    // Channel values.
    virtual bool GetPropertyValue(const char* name, double* value) = 0;
    virtual bool GetPropertyValue(int index, double* value) = 0;
    // SetPropertyValue by name for each entry in name order; true when all succeeded.
    virtual bool SetPropertyValue(const CSensorValueMap& values);
    virtual bool SetPropertyValue(const char* name, double value) = 0;
    virtual bool SetPropertyValue(int index, double value) = 0;
    virtual bool GetPropertyOffset(const char* name, double* value) = 0;
    virtual bool GetPropertyOffset(int index, double* value) = 0;
    virtual bool SetPropertyOffset(const char* name, double value) = 0;
    virtual bool SetPropertyOffset(int index, double value) = 0;
    virtual bool SetPropertyFifoAddress(const char* name, double* address) = 0;
    virtual bool SetPropertyFifoAddress(int index, double* address) = 0;
    virtual double* GetPropertyValueAddress(const char* /*name*/) { return nullptr; }
    virtual double* GetPropertyValueAddress(int /*index*/) { return nullptr; }
    virtual void UpdatePropertyFifoValues() {}
    virtual double* GetPropertyRawAddress(const char* name) = 0;
    virtual double* GetPropertyRawAddress(int index) = 0;

    // Queues of pending outputs, each keyed by name (a newer entry replaces an older one)
    // and popped in name order.
    virtual bool HasSiblingValue() const { return m_siblingPending; }
    virtual bool PopSiblingValue(std::string& name, double& value);
    virtual void PushSiblingValue(const char* name, double value);
    virtual bool HasOutputValue() const { return m_outputValuePending; }
    virtual bool PopOutputValue(std::string& name, double& value);
    virtual bool HasOutputMessage() const { return m_outputMessagePending; }
    virtual bool PopOutputMessage(std::string& name, std::string& text);
    virtual void PushOutputMessage(const char* name, std::string_view text);

    // Activation.
    virtual bool SetActive(bool active) { return active ? Activate() : Deactivate(); }
    virtual bool Activate() = 0;
    virtual bool Deactivate() = 0;
    virtual bool IsActive() const { return m_active; }
    virtual bool Reserved6() { return true; }
    virtual bool Reserved7() { return true; }
    // The camera sensors start and stop the image acquisition here.
    virtual bool SetMeasurement(bool /*on*/) { return true; }
    virtual bool IsMeasuring() const { return false; }
    virtual bool Reserved8() const { return true; }
    virtual bool IsTipOffsetChanged() const { return m_tipOffsetChanged; }
    virtual int32_t Reserved9() const { return 90; }
    // The channel table itself, for reading.
    virtual const CSensorChannelTable& GetPropertyTable() const { return m_channels; }
    // The value the probe manager was opened with; CSensor does not use it.
    virtual void SetMachineValue(double /*value*/) {}
    // The probe manager's object-lock bit; borrowed, the probe manager keeps it alive.
    virtual void SetObjectLock(MBitmap2Double* lock) = 0;
    // Readers of the hardware properties; the number of defaults written back.
    virtual int ReadHardwareProperties() { return 0; }
    // [Access] of the hardware properties: channel name = access letters, applied to the
    // channels the sensor has. The number of channels changed.
    virtual int ReadAccessSettings();
    // True after a value update went through to the end.
    virtual bool IsPropertyValueUpdated() const { return m_propertyValueUpdated; }
    virtual const CSensorControlParameters& GetControlParameterRecord() const {
        return m_controlParameters;
    }
    // Reads [MovezeroControlPara] and [TrackingControlPara] of the user data over the
    // defaults; true when at least one key was found.
    virtual bool ReadControlParameters();

    // ---- Non-virtual operations ----

    // Adds an entry to the second value queue.
    void PushOutputValue(const char* name, double value);
    // The names the camera machine uses: the probe properties are the processed property
    // data, the probe tip data is the user data.
    bool GetProbeProperties(std::string& text) { return GetPropertyData(text); }
    bool GetProbetip(std::string& text) { return GetUserData(text); }

protected:
    // Runs the channel parser on `doc`, writing defaults back into it (see csensor.cpp).
    bool ProcessConfigData(MIniData& doc);

    // Error queue.
    void PushErrorCode(uint32_t code) { m_errors.push_back(code); }
    bool HasErrorCodes() const { return !m_errors.empty(); }
    // Oldest code, 0 when none.
    uint32_t PopErrorCode();

    void SetSensorName(std::string_view name);
    void SetSerialNo(std::string_view serialNo) { m_serialNo.assign(serialNo); }
    void SetDescription(std::string_view text) { m_description.assign(text); }
    void SetTypeInfo(std::string_view text) { m_typeInfo.assign(text); }
    void SetState(int32_t state) { m_state = state; }
    // Level for "data changed" traces: 2 once the sensor is up, 5 while it is built.
    int ChangeTraceLevel() const { return m_state != CSENSOR_STATE_NONE ? 2 : 5; }

    // Channel table. FindChannel gives null for unknown names.
    CSensorChannelDesc* FindChannel(const char* name);
    const CSensorChannelDesc* FindChannel(const char* name) const;
    // Empties the table (and its index and snapshot), so that new property data may define a
    // different channel set.
    void ClearPropertyTable();
    const std::map<std::string, uint32_t>& ChannelIndex() const { return m_channelIndex; }

    // Registers a component name, so that SetComponentData accepts it.
    void RegisterComponent(std::string_view name, std::string_view text);
    bool HasComponent(const char* name) const;

    void SetActiveFlag(bool active) { m_active = active; }
    void SetConfigDataSet(bool set) { m_configDataSet = set; }
    void SetPropertiesChanged() { m_propertiesChanged = true; }
    void SetProbeDirectionChanged(bool changed) { m_probeDirectionChanged = changed; }
    void SetTipOffsetChanged(bool changed) { m_tipOffsetChanged = changed; }
    void SetPropertyValueUpdated(bool updated) { m_propertyValueUpdated = updated; }
    CSensorControlParameters& ControlParameters() { return m_controlParameters; }
    void SetControlParametersRead(bool read) { m_controlParametersRead = read; }

    const CSensorValueAddressLookup& ValueAddressLookup() const { return m_valueAddressLookup; }
    const CSensorComponentSearch& ComponentSearch() const { return m_componentSearch; }

    // The documents.
    MIniData& PropertyData() { return m_propertyData; }
    const MIniData& PropertyData() const { return m_propertyData; }
    MIniData& ConfigData() { return m_configData; }
    MIniData& UserData() { return m_userData; }
    MIniData& HardwareData() { return m_hardwareData; }
    MIniData& HardwareProperties() { return m_hardwareProperties; }
    MIniData& GeometryData() { return m_geometryData; }

    // Parses `text` into `doc`; an invalid text queues error 32 and leaves `doc` unchanged.
    bool StoreDocument(MIniData& doc, std::string_view text);

private:
    void rebuild_channel_index();

    // Identity.
    std::string m_name = "CSensor";
    std::string m_serialNo = "0000";

    // Flags.
    bool m_configDataSet = false;
    bool m_controlParametersRead = false;
    bool m_propertiesChanged = false;
    bool m_siblingPending = false;
    bool m_outputValuePending = false;
    bool m_outputMessagePending = false;

    CSensorChannelTable m_channels;
    CSensorChannelTable m_snapshot; // as last handed out by GetPropertyList
    std::deque<uint32_t> m_errors;

    std::map<std::string, double> m_siblingValues;
    std::map<std::string, double> m_outputValues;
    std::map<std::string, std::string> m_outputMessages;

    MIniData m_propertyData;           // processed property data
    MIniData m_propertyDataProcessing; // property data being processed
    MIniData m_configData;
    MIniData m_userData;
    MIniData m_hardwareData;
    MIniData m_hardwareProperties;
    MIniData m_geometryData;

    std::map<std::string, std::string> m_components;
    std::map<std::string, uint32_t> m_channelIndex;

    std::string m_description;
    std::string m_typeInfo;
    CSensorControlParameters m_controlParameters;

    int32_t m_state = CSENSOR_STATE_NONE;
    bool m_initialised = false;
    bool m_active = false;
    bool m_probeDirectionChanged = false;
    bool m_tipOffsetChanged = false;
    bool m_propertyValueUpdated = false;

    CSensorValueAddressLookup m_valueAddressLookup;
    CSensorComponentSearch m_componentSearch;
};
