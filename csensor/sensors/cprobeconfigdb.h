#pragma once
// CProbeConfigDB: the probe manager's keyed storage of sensor configuration blobs in one INI
// file ("camprobedb.ini" in the machine's configuration directory).
//
// Each blob is a multi-line text (an INI document itself) stored base64-encoded as one
// entry, so it fits on one line:
//
//   [GENERAL]       Target=prbcfgdb.ini, Component=probe.configdb   (written on a new file)
//   [HARDWARE]      MC          the hardware description of the measuring inputs
//   [<class>]       PROPERTIES  property data of that sensor class ([CSensor]: the default
//                               channel table of every sensor)
//                   GEOMETRY    geometry data
//                   PROBESYSTEM probe-system features, or the plain text "?" asking the
//                               manager to store the sensor's current features
//   [ProbeSystem]   probesystem.total, probesystem.list   plain text type lists
//
// Every change is saved at once, through a temporary file, so a failed save never leaves a
// half-written file. Every operation needs a successful Open; before it (or after a failed
// Open, which leaves the file alone) each fails with its "m_inidata not opened" message.

#include "msl/mutil/minidata.h"

#include <cstdint>
#include <string>

class CProbeConfigDB {
public:
    // Stores both; nothing is read before Open.
    CProbeConfigDB(const std::string& directory, const std::string& fileName);
    CProbeConfigDB(const CProbeConfigDB&) = delete;
    CProbeConfigDB& operator=(const CProbeConfigDB&) = delete;

    // Reads the file (a missing one starts empty) and writes the [GENERAL] entries when
    // either is missing.
    bool Open();
    bool IsOpen() const { return m_opened; }
    // Writes the file when the document has unsaved changes.
    bool Save();

    // Decodes the blob of [section] key. False without a message when it is missing; false
    // with the decoding message when it is not valid base64.
    bool ReadData(const std::string& section, const std::string& key, std::string& text);
    // Encodes and stores the blob, and saves at once.
    bool WriteData(const std::string& section, const std::string& key, const std::string& text);

    // The whole document as text, and its replacement (parsed first: text that does not
    // parse changes nothing).
    bool SetFileContent(const std::string& text);
    bool GetFileContent(std::string& text);

    // Plain entries, forwarded to the document. The setters do not save.
    bool GetDoubleEntry(const std::string& section, const std::string& key, double& value);
    bool GetLongEntry(const std::string& section, const std::string& key, int32_t& value);
    bool GetStringEntry(const std::string& section, const std::string& key, std::string& value);
    bool SetDoubleEntry(const std::string& section, const std::string& key, double value);
    bool SetLongEntry(const std::string& section, const std::string& key, int32_t value);
    bool SetStringEntry(const std::string& section, const std::string& key,
                        const std::string& value);

    const std::string& GetPath() const { return m_path; }
    const std::string& GetDirectory() const { return m_directory; }
    const std::string& GetFileName() const { return m_fileName; }

private:
    std::string m_fileName;
    std::string m_directory;
    std::string m_path;
    MIniData m_inidata;
    bool m_opened = false;
};
