#include "csensor/sensors/csensorcalibration.h"

#include <cstdio>
#include <vector>

namespace {

const char kCalibration[] = "Calibration";
// The keys of a calibration record.
const char* const kRecordKeys[] = {"Date", "Interval", "Message", "Operator", "Time", "SessionID"};

bool is_range_section(const std::string& name) {
    if (name.size() <= 6 || name.compare(0, 6, "Range_") != 0)
        return false;
    for (size_t i = 6; i < name.size(); ++i)
        if (name[i] < '0' || name[i] > '9')
            return false;
    return true;
}

} // namespace

int CSensor_UpdateCalibrationSections(MIniData& doc) {
    if (!doc.HasSection(kCalibration))
        return 0;
    int changes = 0;
    std::vector<std::string> sections, ranges;
    doc.GetSectionNames(sections);
    for (const std::string& name : sections)
        if (is_range_section(name))
            ranges.push_back(name);

    std::string value;
    if (doc.GetStringEntry(kCalibration, "Calibration", value)) {
        if (!doc.HasEntry(kCalibration, "Calibrated")) {
            doc.SetStringEntry(kCalibration, "Calibrated", value);
            if (ranges.empty())
                doc.SetStringEntry("Range_1", "Calibrated", value);
        }
        doc.DeleteEntry(kCalibration, "Calibration");
        ++changes;
    }
    for (const char* key : kRecordKeys) {
        if (!doc.GetStringEntry(kCalibration, key, value))
            continue;
        if (ranges.empty())
            ranges.push_back("Range_1");
        for (const std::string& range : ranges)
            if (!doc.HasEntry(range, key))
                doc.SetStringEntry(range, key, value);
        doc.DeleteEntry(kCalibration, key);
        ++changes;
    }
    return changes;
}

bool CSensor_DaysSinceDate(const std::string& date, std::time_t now, long& days) {
    int day = 0, month = 0, year = 0;
    if (std::sscanf(date.c_str(), "%02d.%02d.%04d", &day, &month, &year) != 3)
        return false;
    // The sensors run on the command thread only; the copy is taken at once.
    const std::tm* today = std::localtime(&now);
    if (!today)
        return false;
    std::tm local = *today;
    local.tm_mday = day;
    local.tm_mon = month - 1;
    local.tm_year = year - 1900;
    local.tm_isdst = -1;
    std::time_t then = std::mktime(&local);
    if (then == static_cast<std::time_t>(-1))
        return false;
    days = static_cast<long>((now - then) / 86400);
    return true;
}
