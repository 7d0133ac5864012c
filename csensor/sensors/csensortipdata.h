#pragma once
// The probe tip of a sensor as its user data describes it:
//
//   [General]          ComponentName ArmName TipName
//   [Geometry]         x0 y0 z0 (tip vector, mm), alpha beta gamma (degrees, -359..359)
//                      UnloadedWithGeometry, D (optional markers)
//   [ProbeTipsOffsets] Offset_X_mm Offset_Y_mm Offset_Z_mm
//   [ProbeTip]         TipType Radius_mm Calibrated
//   [Range_<r>]        E_<i> E_<i>_default M0_<i> (i = 1..3), the calibration of range r
//
// and the calibration state ([Calibration] and the range sections), see csensorcalibration.h.

#include <cstdint>
#include <string>

struct CSensorTipData {
    std::string componentName = "probe.tip";
    std::string armName = "unknown probe arm name";
    std::string tipName = "unknown probe tip name";
    double x0 = 0.0, y0 = 0.0, z0 = 0.0;
    double alpha = 0.0, beta = 0.0, gamma = 0.0;
    double length = 0.0;                // used as the tip length (may be the default stylus)
    double offset[3] = {0.0, 0.0, 0.0}; // [ProbeTipsOffsets]
    bool unloaded = true;
    std::string tipType = "SPHERE";
    double radius_mm = 0.0;
    int32_t calibrated = 0;

    // The component data "probe.tip": the [Geometry] of the tip.
    std::string ComponentText() const;
};

// Calibration values of the tip in the current measuring range, per probe axis.
struct CSensorTipCalibration {
    static constexpr int kAxes = 3;
    // Gains outside this open interval are invalid (error 35).
    static constexpr double kMinGain = 0.1;
    static constexpr double kMaxGain = 20.0;

    int range = 1;
    double E[kAxes] = {1.0, 1.0, 1.0};
    double E_default[kAxes] = {1.0, 1.0, 1.0};
    double M0[kAxes] = {0.0, 0.0, 0.0};
};
