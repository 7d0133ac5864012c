#include "csensor/sensors/csensorheadcurve.h"

#include "platform/trace/merrlog.h"
#include "platform/trace/mtrace.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

const char kSection[] = "force";
// More points than any head curve has; a bigger count comes from a broken step.
const double kMaxPoints = 1e6;
const double kBound = 9223372036854775808.0; // 2^63

} // namespace

void CSensorHeadCurve::Clear() {
    valid = false;
    min = max = step = 0.0;
    values.clear();
}

bool CSensorHeadCurve::Read(MIniData& doc, double forceDirection, const char* sensorName) {
    Clear();
    if (!doc.HasSection(kSection))
        return true;
    double low = -kBound, high = kBound;
    bool checked = true;
    if (forceDirection > 1e-9)
        low = 0.0;
    else if (forceDirection < -1e-9)
        high = 0.0;
    else
        checked = false;

    MTRACE(5, "ReadHeadCurve(): %s - Section [%s]", sensorName, kSection);
    if (!doc.GetDoubleEntry(kSection, "min", min)) {
        MERRLOG("ReadHeadCurve(): %s - Section [%s]: missing 'min'", sensorName, kSection);
        return false;
    }
    if (!doc.GetDoubleEntry(kSection, "max", max)) {
        MERRLOG("ReadHeadCurve(): %s - Section [%s]: missing 'max'", sensorName, kSection);
        return false;
    }
    if (!doc.GetDoubleEntry(kSection, "step", step)) {
        MERRLOG("ReadHeadCurve(): %s - Section [%s]: missing 'step'", sensorName, kSection);
        return false;
    }
    if (max <= min) {
        MERRLOG("ReadHeadCurve(): %s - Section [%s]: min >= max", sensorName, kSection);
        return false;
    }
    double points = (max - min) / step;
    if (!(step > 0.0) || !std::isfinite(points) || points + 1.0 > kMaxPoints) {
        MERRLOG("ReadHeadCurve(): %s - Section [%s]: malloc() failed", sensorName, kSection);
        return false;
    }
    size_t n = static_cast<size_t>(std::lround(points)) + 1;
    std::vector<double> read(n, 0.0);
    bool rewritten = false;
    double previous = 0.0;
    for (size_t i = 0; i < n; ++i) {
        char key[32];
        std::snprintf(key, sizeof(key), "y%zu", i);
        double value = previous;
        bool ok = doc.GetDoubleEntry(kSection, key, value);
        if (!ok)
            value = previous;
        else if (checked && (value < low || value > high))
            value = value < low ? low : high;
        else {
            read[i] = previous = value;
            continue;
        }
        doc.SetDoubleEntry(kSection, key, value);
        MERRLOG("ReadHeadCurve(): %s - Section [%s]: ivalid value %s", sensorName, kSection, key);
        rewritten = true;
        read[i] = previous = value;
    }
    if (rewritten) {
        MERRLOG("ReadHeadCurve(): %s - Section [%s] read failed", sensorName, kSection);
        return false;
    }
    values = std::move(read);
    valid = true;
    MTRACE(5, "ReadHeadCurve(): %s - Section [%s] read successfully", sensorName, kSection);
    return true;
}

double CSensorHeadCurve::MinValue() const {
    return values.empty() ? 0.0 : *std::min_element(values.begin(), values.end());
}

double CSensorHeadCurve::MaxValue() const {
    return values.empty() ? 0.0 : *std::max_element(values.begin(), values.end());
}

bool CSensorHeadCurve::DeflectionForForce(double force, double& deflection) const {
    if (!valid || values.empty())
        return false;
    if (values.size() == 1) {
        if (values[0] != force)
            return false;
        deflection = min;
        return true;
    }
    for (size_t i = 0; i + 1 < values.size(); ++i) {
        double a = values[i], b = values[i + 1];
        if ((force < a && force < b) || (force > a && force > b))
            continue;
        double t = a == b ? 0.0 : (force - a) / (b - a);
        deflection = min + (static_cast<double>(i) + t) * step;
        return true;
    }
    return false;
}
