#pragma once
// The reading rules every configuration reader of the sensors follows: a missing entry is
// written back with its default and counted as a change, so the stored documents always
// show every setting a sensor used; a value outside its limits is clamped and written back.
// The count decides whether "Data changed or extended" is traced.

#include "msl/mutil/minidata.h"

#include <cstdint>
#include <string>
#include <string_view>

// A text value as the readers see it: leading blanks removed, cut at the first ';',
// trailing blanks removed.
std::string CSensor_TrimValue(std::string_view value);

class CSensorIniReader {
public:
    // Borrows the document for the reader's lifetime.
    explicit CSensorIniReader(MIniData& doc) : m_doc(doc) {}

    // Text entry by the trimming rule; missing: `def` is written and returned.
    std::string Text(std::string_view section, std::string_view key, std::string_view def);
    // Double entry; missing (or not a number): `def` is written. With min < max a value
    // outside [min, max] is clamped and written back.
    double Double(std::string_view section, std::string_view key, double def, double min = 0.0,
                  double max = 0.0);
    // Integer entry, the same rules.
    int32_t Long(std::string_view section, std::string_view key, int32_t def, int32_t min = 0,
                 int32_t max = 0);
    // 0 or 1: a negative value becomes 0, 2 or more becomes 1, written back.
    uint8_t Flag(std::string_view section, std::string_view key, int32_t def) {
        return static_cast<uint8_t>(Long(section, key, def, 0, 1));
    }

    // Entries read only where present (nothing is written when they are missing).
    bool OptionalText(std::string_view section, std::string_view key, std::string& value) const;
    bool OptionalDouble(std::string_view section, std::string_view key, double& value) const;
    // A present flag is normalised and written back like Flag.
    bool OptionalFlag(std::string_view section, std::string_view key, uint8_t& value);

    // Writes without reading, counting a change when the text differs.
    void SetText(std::string_view section, std::string_view key, std::string_view value);
    void SetDouble(std::string_view section, std::string_view key, double value);
    void SetLong(std::string_view section, std::string_view key, int32_t value);

    int Changes() const { return m_changes; }
    MIniData& Doc() { return m_doc; }

private:
    void count() { ++m_changes; }

    MIniData& m_doc;
    int m_changes = 0;
};
