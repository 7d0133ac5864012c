#pragma once
// CProbeManager: owns every sensor of the machine and the current one.
//
// The manager creates one sensor per entry of the sensor-factory registry (csensorregistry.h),
// initialises each from the probe configuration database ("camprobedb.ini", CProbeConfigDB),
// knows which probe-system types each sensor serves (the type map, keys such as "Camera:1"),
// switches the current sensor when a probe system is loaded, and forwards probe data,
// channel values, offsets and FIFO addresses to the sensors. The camera machine reaches the
// sensors only through it.
//
// Life cycle: InitSensors creates the sensors (the camera machine calls it first, to find the
// camera's configuration directory), Open reads the database and initialises them, and the
// placeholder sensor (type "unloaded") is current until SetProbesystem loads a probe system.
// Close destroys sensors and database. Before Open there is no current sensor: everything
// that needs one fails with its own message (and error code 40 in the manager's queue).
//
// Type lists: every type is followed by one blank ("Camera:1 ZF290:2 "), the form the
// probesystem database takes them in.
//
// The manager has no lock: the camera machine calls it from its command thread only.

#include "csensor/sensors/csensorchannel.h"

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

class CProbeConfigDB;
class CSensor;
class MBitmap2Double;

class CProbeManager {
public:
    using SensorMap = std::map<std::string, CSensor*>;

    CProbeManager();
    ~CProbeManager();
    CProbeManager(const CProbeManager&) = delete;
    CProbeManager& operator=(const CProbeManager&) = delete;

    // ---- Life cycle ----

    // Only while no sensor exists: calls every registered factory in name order and keeps
    // the sensors it gets; each is given `value`.
    void InitSensors(double value);
    // Opens the database on directory/fileName and initialises every sensor from it; the
    // placeholder becomes current. True when there is a current sensor; without one the
    // database is dropped again. Once open, a further Open does nothing.
    bool Open(const std::string& directory, const std::string& fileName, double value);
    bool IsOpen() const { return m_ProbeConfigDB != nullptr; }
    // Drops the current sensor, destroys all sensors, the database and the lock bit.
    bool Close();

    // ---- Probe data ----

    // Loads the probe system the INI data describes: [Geometry] "ProbeType" names the type
    // (data with [Geometry] "x0" but no type loads the placeholder). The sensor serving it
    // becomes current and gets the data as its configuration data.
    bool SetProbesystem(const std::string& data);
    // New property data for the current sensor; its configuration and tip data are applied
    // again afterwards.
    bool SetProbeProperties(const std::string& data);
    // Probe tip data (the sensor's user data); an empty text unloads the tip.
    bool SetProbetip(const std::string& data);
    bool SetProbeGeometry(const std::string& data);
    // Stores the hardware description of the measuring inputs in the database ([HARDWARE]
    // "MC"); it reaches the sensors when they are initialised.
    bool SetHardwareProperties(const std::string& data);
    // The hardware data of the sensor serving `sensorType`, of the current one when empty.
    bool GetHardwareData(std::string& text, const std::string& sensorType = std::string());

    // ---- Channels of the current sensor ----

    bool SetPropertyValue(int index, double value);
    bool SetPropertyValue(const char* name, double value);
    bool SetPropertyOffset(const char* name, double value);
    // On every sensor, not only the current one; continues after a failure (error code 31)
    // and is true only when all succeeded.
    bool SetPropertyFifoAddress(int index, double* address);
    bool SetPropertyFifoAddress(const char* name, double* address);
    // Remembers the offset of a channel the current sensor has and applies it, keeping the
    // visible value of a master channel; applied again whenever the probe system changes.
    // Always true.
    bool SetChannelOffset(const char* name, double offset);
    // The remembered offset, 0 when there is none; always true.
    bool GetChannelOffset(const char* name, double* offset) const;
    // A copy of the current sensor's channel table; false without a current sensor.
    bool GetPropertyTable(CSensorChannelTable& table) const;

    // The manager's own error codes first, then the current sensor's.
    bool HasErrors();
    uint32_t GetErrorCode();

    // ---- Probe-system types and database ----

    // The types in use: [ProbeSystem] "probesystem.list" of the database, without the types
    // no sensor serves; all types when the entry is empty. Records all types as
    // "probesystem.total" (and as "probesystem.list" when it is missing).
    bool GetProbesystemList(std::string& list);
    // Blobs of the database, such as [Camera] "PROPERTIES" (base64 in the file).
    bool ConfigDBWrite(const std::string& section, const std::string& key, const std::string& text);
    bool ConfigDBRead(const std::string& section, const std::string& key, std::string& text);

    // ---- What the manager holds ----

    // Null before Open.
    CSensor* GetSensor() const { return m_sensor; }
    // Every sensor, in creation order.
    std::vector<CSensor*> GetSensors() const;
    // The type map: type ("Camera:1", "unloaded") to the sensor serving it.
    const SensorMap& GetSensorMap() const { return m_typeMap; }
    // The sensor serving a type (blanks around it ignored); null when none does.
    CSensor* FindSensor(const std::string& type) const;
    // Every type of every sensor except "unloaded", each followed by a blank.
    const std::string& GetTypeList() const { return m_typeList; }
    // The object-lock bit shared with the sensors; null before Open.
    MBitmap2Double* GetObjectLock() const { return m_objectLock.get(); }
    CProbeConfigDB* GetConfigDB() const { return m_ProbeConfigDB.get(); }

private:
    // The sensor when its type list could be read, else null.
    CSensor* InitNewSensor(CSensor* sensor, const std::string& className);
    bool UpdateSensorList(CSensor* sensor);
    void DefineProbesystemList();
    bool InitObjectLockValue();
    // Null (with its message and code) when the data names no type the manager knows.
    CSensor* GetNewSensor(const std::string& data);
    // The placeholder's channels of access "I" become "D" where another sensor's channel at
    // the same index is not internal.
    void align_placeholder_channels();

    bool db_read(const std::string& section, const std::string& key, std::string& text);
    bool db_write(const std::string& section, const std::string& key, const std::string& text);
    void push_error(uint32_t code) { m_errorCodes.push_back(code); }

    CSensor* m_sensor = nullptr;
    std::unique_ptr<CProbeConfigDB> m_ProbeConfigDB;
    std::deque<uint32_t> m_errorCodes;
    SensorMap m_typeMap;
    std::vector<std::unique_ptr<CSensor>> m_sensors;
    std::map<std::string, double> m_channelOffsets;
    // A tip is loaded on the current sensor: a change of probe system unloads it.
    bool m_probetipLoaded = false;
    std::string m_typeList;
    // The object-lock word; the bit object refers to it and every sensor borrows the bit.
    double m_lockValue = 0.0;
    std::unique_ptr<MBitmap2Double> m_objectLock;
};
