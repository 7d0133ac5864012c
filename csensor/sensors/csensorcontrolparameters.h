#pragma once
// Controller settings of a probe system, from the user data sections [MovezeroControlPara]
// and [TrackingControlPara]. A value that the user data leaves out keeps its "not set"
// default (-1; the contact deviation, which may well be -1 mm, uses -1000), so whoever runs
// the controllers can tell it from a real setting.

#include "msl/mutil/minidata.h"

#include <cstdint>

struct CSensorControllerParameters {
    int32_t InputFilterWidth = 0;
    double ProportionalFactor = -1.0;
    double IntegralFactor = -1.0;
    double DerivativeFactor = -1.0;
    double DerivativeTimeDelay_s = -1.0;
    double IntegralSumCeiling = -1.0;
};

struct CSensorMovezeroParameters : CSensorControllerParameters {
    double ContactDetectionDeviation_mm = -1000.0;
    double TargetWindow_mm = -1.0;
    double TargetWindowTime_s = -1.0;
    double TargetWindowTimeout_s = -1.0;
};

struct CSensorTrackingParameters : CSensorControllerParameters {
    double FullSpeedCorridorPercent = -1.0;
    double TrackMinSpeedOverridePercent = -1.0;
};

struct CSensorControlParameters {
    CSensorMovezeroParameters movezero;
    CSensorTrackingParameters tracking;

    // Starts from the defaults and takes every key present; the number of keys found.
    // Nothing is written to the document.
    int Read(const MIniData& userData);
};
