#pragma once
// The force head curve of a probe: force values y0, y1, ... at the deflections min,
// min + step, ..., max of section [force]. The sensor limits its "force" channel to it, and
// with the deflection simulation on, it turns a force back into a deflection.

#include "msl/mutil/minidata.h"

#include <string>
#include <vector>

struct CSensorHeadCurve {
    bool valid = false;
    double min = 0.0;
    double max = 0.0;
    double step = 0.0;
    std::vector<double> values;

    size_t Count() const { return values.size(); }
    void Clear();

    // Reads [force] of `doc` (see CSensorBase::ReadHeadCurve). Returns false on a failure,
    // after writing its error-log lines; a document without [force] leaves the curve
    // cleared and is no failure.
    bool Read(MIniData& doc, double forceDirection, const char* sensorName);

    // Smallest and largest force of a valid curve.
    double MinValue() const;
    double MaxValue() const;
    // The deflection at which the curve reaches `force` (linear between the points); false
    // when the curve is invalid or never reaches that force.
    bool DeflectionForForce(double force, double& deflection) const;
};
