#pragma once
// On-board parameter blocks of "smart" cameras, read and written as a whole with
// CImgSensors::GetSmartParam and SetSmartParam.

#include "platform/vyx/vyxapi.h"

#include <cstdint>

namespace Vyx {

// Any parameter block; the kind name says which camera model it belongs to.
class VYX_API CSmartCamParamBase {
public:
    virtual ~CSmartCamParamBase();
    virtual const char* GetKindName() const = 0;
};

// A block of plain values that the camera exchanges in one piece.
class VYX_API CSmartCamParamValue : public CSmartCamParamBase {
public:
    // Copies every value from a block of the same kind; false for another kind.
    virtual bool CopyFrom(const CSmartCamParamBase& other) = 0;
};

// Parameter block of the KR7700 fibre camera: light, automatic exposure, CIF
// mode, look-up table and DAC range.
class VYX_API CParamKR7700 : public CSmartCamParamValue {
public:
    static constexpr const char* KindName = "KR7700";
    static constexpr int LutSize = 2048;

    CParamKR7700(); // the camera's power-on values: identity look-up table
    const char* GetKindName() const override;
    bool CopyFrom(const CSmartCamParamBase& other) override;

    float AESpeed = 1.0f;
    float light = 0.5f;
    float QLimit = 0.5f;
    float PhaseOff = 0.0f;
    uint16_t ErrMaxCnt = 10;
    int32_t CIFMode = 4;
    float DACRngMin = 0.0f;
    float DACRngMax = 1.0f;
    float DeltaZ = 0.0f;
    float LUT[LutSize];
};

} // namespace Vyx
