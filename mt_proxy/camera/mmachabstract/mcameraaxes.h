#pragma once
// The camera machine's axes: the table of axis records the server sees (name order, each
// record with the position of its value), and the value array, one double per axis, that the
// command thread and the camera's callbacks share under the axes lock.
//
// The table changes only on the command thread; the camera thread reaches values only by the
// index it was given and under the lock. An axis keeps its index for the life of the machine,
// so indexes handed to callbacks stay valid across a re-registration.

#include "lintel/server/machine/mmachrecords.h"
#include "msl/mipc/threadmutex.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

class MCameraAxes {
public:
    static constexpr size_t kNoAxis = ~size_t{0};

    // Enters an axis with these limits, or gives an existing one these limits (its index
    // stays, its name set is cleared). The value array grows with the table once allocated.
    MMachAxis& Register(const std::string& name, uint32_t flags, double minimum, double maximum,
                        double accuracy, double step);
    MMachAxis* Find(const std::string& name);
    const MMachAxis* Find(const std::string& name) const;
    // The axis's index, kNoAxis when there is no such axis.
    size_t IndexOf(const std::string& name) const;
    size_t Count() const { return axes.size(); }

    // Iteration in name order; null at the end.
    const MMachAxis* First();
    const MMachAxis* Next();

    // One value per axis, all 0; frees them with Free.
    void AllocateValues();
    void FreeValues();
    bool HasValues() const { return !values.empty(); }

    // Under the axes lock. Unknown names and indexes read NaN and are not written.
    double GetValue(const std::string& name);
    bool SetValue(const std::string& name, double value);
    double GetValueAt(size_t index);
    void SetValueAt(size_t index, double value);
    // Values of the given indexes, in order (NaN for an index out of range).
    void GetValues(const std::vector<size_t>& indexes, std::vector<double>& out);

    // For callers that read or write several values at once. The lock is recursive.
    varn::ThreadMutex& Lock() { return lock; }
    // Valid only while the lock is held; null before AllocateValues.
    double* ValuesLocked() { return values.empty() ? nullptr : values.data(); }
    size_t ValueCountLocked() const { return values.size(); }

private:
    std::map<std::string, MMachAxis> axes;
    std::map<std::string, MMachAxis>::const_iterator cursor = axes.end();
    std::vector<double> values; // by axis index
    varn::ThreadMutex lock;
};
