#include "csensor/sensors/cprobeconfigdb.h"

#include "msl/merror/merrtracecontext.h"
#include "msl/mfileio/mfileops.h"
#include "msl/mstreams/stlbase64.h"
#include "msl/mutil/stlstring.h"
#include "platform/trace/merrlog.h"
#include "platform/trace/merrtrace.h"
#include "platform/trace/mtrace.h"

#include <optional>

namespace {

const char kGeneral[] = "GENERAL";
const char kTarget[] = "Target";
const char kComponent[] = "Component";

} // namespace

CProbeConfigDB::CProbeConfigDB(const std::string& directory, const std::string& fileName)
    : m_fileName(fileName), m_directory(directory), m_path(file_join(directory, fileName)),
      m_inidata(MINIDATA_SAFE_SAVE) {}

bool CProbeConfigDB::Open() {
    MErrTraceContext context(__FILE__);
    m_opened = false;
    m_path = file_join(m_directory, m_fileName);
    if (!m_inidata.Open(m_path)) {
        MERRTRACE("Open(): m_inidata.Open(\"%s\") failed", m_path.c_str());
        // Nothing of a file that did not load may be saved back over it.
        m_inidata.Close();
        return false;
    }
    m_opened = true;
    const bool hasTarget = m_inidata.HasEntry(kGeneral, kTarget);
    const bool hasComponent = m_inidata.HasEntry(kGeneral, kComponent);
    if (hasTarget && hasComponent)
        return true;
    if (!hasTarget)
        m_inidata.SetStringEntry(kGeneral, kTarget, "prbcfgdb.ini");
    if (!hasComponent)
        m_inidata.SetStringEntry(kGeneral, kComponent, "probe.configdb");
    if (!Save()) {
        MERRTRACE("Open(): m_inidata.Save() failed");
        return false;
    }
    return true;
}

bool CProbeConfigDB::Save() {
    if (!m_opened) {
        MERRLOG("Save(): m_inidata not opened");
        return false;
    }
    if (m_inidata.IsInSync() && !m_inidata.IsNewFile())
        return true;
    if (!m_inidata.Save()) {
        MERRLOG("Save(): failed to save m_inidata to %s", m_path.c_str());
        return false;
    }
    return true;
}

bool CProbeConfigDB::ReadData(const std::string& section, const std::string& key,
                              std::string& text) {
    MErrTraceContext context(__FILE__);
    if (!m_opened) {
        MERRLOG("ReadData(): m_inidata not opened");
        return false;
    }
    std::string value;
    if (!m_inidata.GetStringEntry(section, key, value))
        return false; // a missing blob is normal: the sensor keeps its defaults
    MTRACE(5, "ReadData(): special config data found for [%s]-%s.", section.c_str(), key.c_str());
    // A hand-edited value may carry blanks around the base64 text, which has none of its own.
    value = std::string(stl_string_trim_blanks(value));
    if (!stl_decode_base64(value)) {
        MERRTRACE("%s(): stl_decode_base64() failed at [%s] %s=", "CProbeConfigDB::ReadData",
                  section.c_str(), key.c_str());
        return false;
    }
    text = std::move(value);
    return true;
}

bool CProbeConfigDB::WriteData(const std::string& section, const std::string& key,
                               const std::string& text) {
    MErrTraceContext context(__FILE__);
    if (!m_opened) {
        MERRTRACE("WriteData(): m_inidata not opened");
        return false;
    }
    std::string encoded = text;
    if (!stl_encode_base64(encoded)) {
        MERRTRACE("%s(): stl_encode_base64() failed", "CProbeConfigDB::WriteData");
        return false;
    }
    std::optional<std::string> previous;
    if (std::string old; m_inidata.GetStringEntry(section, key, old))
        previous = std::move(old);
    if (!m_inidata.SetStringEntry(section, key, encoded)) {
        MERRTRACE("WriteData(): failed to write to [%s]-%s", section.c_str(), key.c_str());
        return false;
    }
    if (!Save()) {
        // The document keeps matching the file: a later save must not write this blob after
        // the caller was told it failed.
        if (previous)
            m_inidata.SetStringEntry(section, key, *previous);
        else
            m_inidata.DeleteEntry(section, key);
        MERRTRACE("WriteData(): m_inidata.Save() failed");
        return false;
    }
    return true;
}

bool CProbeConfigDB::SetFileContent(const std::string& text) {
    if (!m_opened) {
        MERRLOG("SetFileContent(): m_inidata not opened");
        return false;
    }
    // Parsed on the side first, so text that does not parse leaves the document whole.
    MIniData parsed;
    if (!parsed.SetContentString(text)) {
        MERRLOG("SetFileContent(): m_inidata.SetContentString() failed");
        return false;
    }
    const std::string previous = m_inidata.GetContentString();
    m_inidata.SetContentString(text);
    if (!Save()) {
        m_inidata.SetContentString(previous);
        MERRLOG("SetFileContent(): m_inidata.Save() failed");
        return false;
    }
    return true;
}

bool CProbeConfigDB::GetFileContent(std::string& text) {
    if (!m_opened) {
        MERRLOG("GetFileContent(): m_inidata not opened");
        return false;
    }
    text = m_inidata.GetContentString();
    return true;
}

bool CProbeConfigDB::GetDoubleEntry(const std::string& section, const std::string& key,
                                    double& value) {
    if (!m_opened) {
        MERRLOG("GetDoubleEntry(): m_inidata not opened");
        return false;
    }
    return m_inidata.GetDoubleEntry(section, key, value);
}

bool CProbeConfigDB::GetLongEntry(const std::string& section, const std::string& key,
                                  int32_t& value) {
    if (!m_opened) {
        MERRLOG("GetLongEntry(): m_inidata not opened");
        return false;
    }
    return m_inidata.GetLongEntry(section, key, value);
}

bool CProbeConfigDB::GetStringEntry(const std::string& section, const std::string& key,
                                    std::string& value) {
    if (!m_opened) {
        MERRLOG("GetStringEntry(): m_inidata not opened");
        return false;
    }
    return m_inidata.GetStringEntry(section, key, value);
}

bool CProbeConfigDB::SetDoubleEntry(const std::string& section, const std::string& key,
                                    double value) {
    if (!m_opened) {
        MERRLOG("SetDoubleEntry(): m_inidata not opened");
        return false;
    }
    return m_inidata.SetDoubleEntry(section, key, value);
}

bool CProbeConfigDB::SetLongEntry(const std::string& section, const std::string& key,
                                  int32_t value) {
    if (!m_opened) {
        MERRLOG("SetLongEntry(): m_inidata not opened");
        return false;
    }
    return m_inidata.SetLongEntry(section, key, value);
}

bool CProbeConfigDB::SetStringEntry(const std::string& section, const std::string& key,
                                    const std::string& value) {
    if (!m_opened) {
        MERRLOG("SetStringEntry(): m_inidata not opened");
        return false;
    }
    return m_inidata.SetStringEntry(section, key, value);
}
