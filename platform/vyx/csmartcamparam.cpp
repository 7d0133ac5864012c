#include "platform/vyx/csmartcamparam.h"

#include <cstring>

namespace Vyx {

CSmartCamParamBase::~CSmartCamParamBase() = default;

CParamKR7700::CParamKR7700() {
    for (int i = 0; i < LutSize; ++i)
        LUT[i] = static_cast<float>(i) / static_cast<float>(LutSize - 1);
}

const char* CParamKR7700::GetKindName() const {
    return KindName;
}

bool CParamKR7700::CopyFrom(const CSmartCamParamBase& other) {
    const auto* block = dynamic_cast<const CParamKR7700*>(&other);
    if (block == nullptr)
        return false;
    if (block == this)
        return true;
    AESpeed = block->AESpeed;
    light = block->light;
    QLimit = block->QLimit;
    PhaseOff = block->PhaseOff;
    ErrMaxCnt = block->ErrMaxCnt;
    CIFMode = block->CIFMode;
    DACRngMin = block->DACRngMin;
    DACRngMax = block->DACRngMax;
    DeltaZ = block->DeltaZ;
    std::memcpy(LUT, block->LUT, sizeof LUT);
    return true;
}

} // namespace Vyx
