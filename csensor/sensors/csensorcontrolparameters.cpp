#include "csensor/sensors/csensorcontrolparameters.h"

namespace {

int read_double(const MIniData& doc, const char* section, const char* key, double& value) {
    double read = 0.0;
    if (!doc.GetDoubleEntry(section, key, read))
        return 0;
    value = read;
    return 1;
}

int read_controller(const MIniData& doc, const char* section, CSensorControllerParameters& p) {
    int found = 0;
    int32_t width = 0;
    if (doc.GetLongEntry(section, "InputFilterWidth", width)) {
        p.InputFilterWidth = width;
        ++found;
    }
    found += read_double(doc, section, "ProportionalFactor", p.ProportionalFactor);
    found += read_double(doc, section, "IntegralFactor", p.IntegralFactor);
    found += read_double(doc, section, "DerivativeFactor", p.DerivativeFactor);
    found += read_double(doc, section, "DerivativeTimeDelay_s", p.DerivativeTimeDelay_s);
    found += read_double(doc, section, "IntegralSumCeiling", p.IntegralSumCeiling);
    return found;
}

} // namespace

int CSensorControlParameters::Read(const MIniData& doc) {
    *this = CSensorControlParameters();
    const char* mz = "MovezeroControlPara";
    int found = read_controller(doc, mz, movezero);
    found +=
        read_double(doc, mz, "ContactDetectionDeviation_mm", movezero.ContactDetectionDeviation_mm);
    found += read_double(doc, mz, "TargetWindow_mm", movezero.TargetWindow_mm);
    found += read_double(doc, mz, "TargetWindowTime_s", movezero.TargetWindowTime_s);
    found += read_double(doc, mz, "TargetWindowTimeout_s", movezero.TargetWindowTimeout_s);

    const char* tr = "TrackingControlPara";
    found += read_controller(doc, tr, tracking);
    found += read_double(doc, tr, "FullSpeedCorridorPercent", tracking.FullSpeedCorridorPercent);
    found +=
        read_double(doc, tr, "TrackMinSpeedOverridePercent", tracking.TrackMinSpeedOverridePercent);
    return found;
}
