#pragma once
// Calibration state of a probe tip in its user data.
//
// [Calibration] holds the overall state ("Calibrated") and one entry per range section
// ("Range_1=1"); each range section holds its own record: Calibrated, Interval (days),
// Message, Date ("dd.mm.yyyy"), and whatever else the calibration wrote (Operator, Time,
// SessionID). Older data kept one record for the whole tip in [Calibration] itself, with the
// state in "Calibration"; CSensor_UpdateCalibrationSections brings such data to the current
// form.

#include "msl/mutil/minidata.h"

#include <ctime>
#include <string>

// Moves the old per-tip record out of [Calibration] into every range section ("Range_<n>")
// that lacks those keys ("Range_1" when there is none), and turns an old "Calibration" state
// into "Calibrated". The number of entries changed.
int CSensor_UpdateCalibrationSections(MIniData& doc);

// Days from the calibration date ("%02d.%02d.%04d", day, month, year, taken at the time of
// day of `now`, local time) to `now`, whole days, truncated. False when the date does not
// read.
bool CSensor_DaysSinceDate(const std::string& date, std::time_t now, long& days);
