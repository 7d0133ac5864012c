#pragma once
// What a probe system's configuration data says about it: where it is mounted, which type
// it is, its measuring ranges and its matrix. Each group has its reader; every reader writes
// missing keys back with defaults (csensorinireader.h).
//
//   [Geometry]           x0 y0 z0 alpha beta gamma, ProbeType
//   [ProbeSystemOffsets] Offset_X_mm Offset_Y_mm Offset_Z_mm   (read only when present)
//   [ProbeSystem]        ProbeSystem ProbeChannel ProbeSign SerialNo Transparent TypeLever
//                        DefaultStylusLength_mm, Range RangeTSK dE_Faktor
//                        LockLimitMaxPercent LockLimitMinPercent, Mtx_a11 .. Mtx_a33

#include "csensor/sensors/csensorinireader.h"
#include "csensor/sensors/csensortransform.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The probe-system features: the values the readers start from when the configuration data
// leaves them out. The probe manager hands them in with SetFeatures and asks for them with
// GetFeatures, as [ProbeSystem] entries.
struct CSensorFeatures {
    double Range = 1.0;
    double RangeTSK = 1.0;
    double LockLimitMaxPercent = 100.0;
    double LockLimitMinPercent = 100.0;
    double dE_Faktor = 1.0;
    double DefaultStylusLength_mm = 50.0;
    int32_t ProbeSign = 1;
    std::string SensorTypeMC = "Form";

    // Takes the [ProbeSystem] entries present in the document.
    void Take(const MIniData& doc);
    // Writes all of them into [ProbeSystem].
    void Write(MIniData& doc) const;
};

// One "type:code" item of a sensor type list ("R85Q:1", "ZF290:2 ZF290D:4").
struct CSensorTypeItem {
    std::string type;
    int32_t code = 0;
};
std::vector<CSensorTypeItem> CSensor_ParseTypeList(std::string_view list);

struct CSensorSystemData {
    // [Geometry]: mounting of the probe system.
    double x0 = 0.0, y0 = 0.0, z0 = 0.0;
    double alpha = 0.0, beta = 0.0, gamma = 0.0;
    double offset[3] = {0.0, 0.0, 0.0}; // [ProbeSystemOffsets]

    // Probe type.
    std::string probeType;
    int32_t typeCode = 0;
    std::string probeSystem;
    int32_t probeChannel = 0; // hardware input, 0: none
    int32_t probeSign = 1;
    std::string serialNo;
    int32_t transparent = 0;
    int32_t typeLever = 0;
    double defaultStylusLength_mm = 0.0;

    // Measuring ranges.
    double range = 1.0;
    double rangeTSK = 1.0;
    double dE_Faktor = 1.0;
    double lockLimitMaxPercent = 100.0;
    double lockLimitMinPercent = 100.0;

    CSensorMatrix matrix;

    void ReadGeometry(CSensorIniReader& reader);
    // False when the type is not in `acceptedTypes` (a type list); the record still takes it.
    bool ReadProbetype(CSensorIniReader& reader, std::string_view acceptedTypes,
                       const CSensorFeatures& features);
    void ReadRange(CSensorIniReader& reader, const CSensorFeatures& features);
    void ReadMatrix(CSensorIniReader& reader);
};
