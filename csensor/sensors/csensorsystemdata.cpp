#include "csensor/sensors/csensorsystemdata.h"

#include <cstdio>
#include <cstdlib>

namespace {

const char kProbeSystem[] = "ProbeSystem";
const char kGeometry[] = "Geometry";

} // namespace

void CSensorFeatures::Take(const MIniData& doc) {
    doc.GetDoubleEntry(kProbeSystem, "Range", Range);
    doc.GetDoubleEntry(kProbeSystem, "RangeTSK", RangeTSK);
    doc.GetDoubleEntry(kProbeSystem, "LockLimitMaxPercent", LockLimitMaxPercent);
    doc.GetDoubleEntry(kProbeSystem, "LockLimitMinPercent", LockLimitMinPercent);
    doc.GetDoubleEntry(kProbeSystem, "dE_Faktor", dE_Faktor);
    doc.GetDoubleEntry(kProbeSystem, "DefaultStylusLength_mm", DefaultStylusLength_mm);
    doc.GetLongEntry(kProbeSystem, "ProbeSign", ProbeSign);
    std::string text;
    if (doc.GetStringEntry(kProbeSystem, "SensorTypeMC", text))
        SensorTypeMC = CSensor_TrimValue(text);
}

void CSensorFeatures::Write(MIniData& doc) const {
    doc.SetDoubleEntry(kProbeSystem, "Range", Range);
    doc.SetDoubleEntry(kProbeSystem, "RangeTSK", RangeTSK);
    doc.SetDoubleEntry(kProbeSystem, "LockLimitMaxPercent", LockLimitMaxPercent);
    doc.SetDoubleEntry(kProbeSystem, "LockLimitMinPercent", LockLimitMinPercent);
    doc.SetDoubleEntry(kProbeSystem, "dE_Faktor", dE_Faktor);
    doc.SetDoubleEntry(kProbeSystem, "DefaultStylusLength_mm", DefaultStylusLength_mm);
    doc.SetLongEntry(kProbeSystem, "ProbeSign", ProbeSign);
    doc.SetStringEntry(kProbeSystem, "SensorTypeMC", SensorTypeMC);
}

std::vector<CSensorTypeItem> CSensor_ParseTypeList(std::string_view list) {
    std::vector<CSensorTypeItem> items;
    size_t pos = 0;
    while (pos < list.size()) {
        size_t end = list.find(' ', pos);
        if (end == std::string_view::npos)
            end = list.size();
        std::string_view item = list.substr(pos, end - pos);
        if (!item.empty()) {
            CSensorTypeItem parsed;
            size_t colon = item.find(':');
            parsed.type = std::string(item.substr(0, colon));
            if (colon != std::string_view::npos)
                parsed.code = std::atoi(std::string(item.substr(colon + 1)).c_str());
            items.push_back(parsed);
        }
        pos = end + 1;
    }
    return items;
}

void CSensorSystemData::ReadGeometry(CSensorIniReader& reader) {
    x0 = reader.Double(kGeometry, "x0", 0.0);
    y0 = reader.Double(kGeometry, "y0", 0.0);
    z0 = reader.Double(kGeometry, "z0", 0.0);
    alpha = reader.Double(kGeometry, "alpha", 0.0);
    beta = reader.Double(kGeometry, "beta", 0.0);
    gamma = reader.Double(kGeometry, "gamma", 0.0);
    const char* offsetKeys[3] = {"Offset_X_mm", "Offset_Y_mm", "Offset_Z_mm"};
    for (int i = 0; i < 3; ++i)
        offset[i] = 0.0;
    if (reader.Doc().HasSection("ProbeSystemOffsets"))
        for (int i = 0; i < 3; ++i)
            offset[i] = reader.Double("ProbeSystemOffsets", offsetKeys[i], 0.0);
}

bool CSensorSystemData::ReadProbetype(CSensorIniReader& reader, std::string_view acceptedTypes,
                                      const CSensorFeatures& features) {
    std::vector<CSensorTypeItem> accepted = CSensor_ParseTypeList(acceptedTypes);
    std::string first = accepted.empty() ? std::string() : accepted.front().type;
    probeType = reader.Text(kGeometry, "ProbeType", first);
    bool known = false;
    typeCode = 0;
    for (const CSensorTypeItem& item : accepted)
        if (item.type == probeType) {
            typeCode = item.code;
            known = true;
        }
    probeSystem = reader.Text(kProbeSystem, "ProbeSystem", probeType);
    probeChannel = reader.Long(kProbeSystem, "ProbeChannel", 0, 0, 64);
    probeSign = reader.Long(kProbeSystem, "ProbeSign", features.ProbeSign, -1, 1);
    serialNo = reader.Text(kProbeSystem, "SerialNo", "0000");
    transparent = reader.Long(kProbeSystem, "Transparent", 0, 0, 1);
    typeLever = reader.Long(kProbeSystem, "TypeLever", 0, 0, 1);
    defaultStylusLength_mm =
        reader.Double(kProbeSystem, "DefaultStylusLength_mm", features.DefaultStylusLength_mm);
    return known;
}

void CSensorSystemData::ReadRange(CSensorIniReader& reader, const CSensorFeatures& features) {
    range = reader.Double(kProbeSystem, "Range", features.Range);
    rangeTSK = reader.Double(kProbeSystem, "RangeTSK", features.RangeTSK);
    dE_Faktor = reader.Double(kProbeSystem, "dE_Faktor", features.dE_Faktor);
    lockLimitMaxPercent = reader.Double(kProbeSystem, "LockLimitMaxPercent",
                                        features.LockLimitMaxPercent, 0.0, 100.0);
    lockLimitMinPercent = reader.Double(kProbeSystem, "LockLimitMinPercent",
                                        features.LockLimitMinPercent, 0.0, 100.0);
}

void CSensorSystemData::ReadMatrix(CSensorIniReader& reader) {
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            char key[16];
            std::snprintf(key, sizeof(key), "Mtx_a%d%d", i + 1, j + 1);
            matrix.m[i][j] = reader.Double(kProbeSystem, key, i == j ? 1.0 : 0.0);
        }
}
