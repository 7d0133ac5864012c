#include "csensor/sensors/csensorinireader.h"

#include "msl/mutil/stlstring.h"

std::string CSensor_TrimValue(std::string_view value) {
    return std::string(stl_string_trim_blanks(value.substr(0, value.find(';'))));
}

std::string CSensorIniReader::Text(std::string_view section, std::string_view key,
                                   std::string_view def) {
    std::string raw;
    if (m_doc.GetStringEntry(section, key, raw))
        return CSensor_TrimValue(raw);
    m_doc.SetStringEntry(section, key, def);
    count();
    return std::string(def);
}

namespace {

// A number under the reading rules: missing (or not a number), `def` is written; with
// min < max a value outside [min, max] is clamped and written back. Counts every write.
template <class T, class Get, class Set>
T ReadNumber(T def, T min, T max, const Get& get, const Set& set, int& changes) {
    T value{};
    if (!get(value)) {
        set(def);
        ++changes;
        return def;
    }
    if (min < max && (value < min || value > max)) {
        value = value < min ? min : max;
        set(value);
        ++changes;
    }
    return value;
}

} // namespace

double CSensorIniReader::Double(std::string_view section, std::string_view key, double def,
                                double min, double max) {
    return ReadNumber(
        def, min, max, [&](double& value) { return m_doc.GetDoubleEntry(section, key, value); },
        [&](double value) { m_doc.SetDoubleEntry(section, key, value); }, m_changes);
}

int32_t CSensorIniReader::Long(std::string_view section, std::string_view key, int32_t def,
                               int32_t min, int32_t max) {
    return ReadNumber(
        def, min, max, [&](int32_t& value) { return m_doc.GetLongEntry(section, key, value); },
        [&](int32_t value) { m_doc.SetLongEntry(section, key, value); }, m_changes);
}

bool CSensorIniReader::OptionalText(std::string_view section, std::string_view key,
                                    std::string& value) const {
    std::string raw;
    if (!m_doc.GetStringEntry(section, key, raw))
        return false;
    value = CSensor_TrimValue(raw);
    return true;
}

bool CSensorIniReader::OptionalDouble(std::string_view section, std::string_view key,
                                      double& value) const {
    double read = 0.0;
    if (!m_doc.GetDoubleEntry(section, key, read))
        return false;
    value = read;
    return true;
}

bool CSensorIniReader::OptionalFlag(std::string_view section, std::string_view key,
                                    uint8_t& value) {
    int32_t read = 0;
    if (!m_doc.GetLongEntry(section, key, read))
        return false;
    if (read < 0 || read > 1) {
        read = read < 0 ? 0 : 1;
        m_doc.SetLongEntry(section, key, read);
        count();
    }
    value = static_cast<uint8_t>(read);
    return true;
}

void CSensorIniReader::SetText(std::string_view section, std::string_view key,
                               std::string_view value) {
    std::string old;
    if (m_doc.GetStringEntry(section, key, old) && old == value)
        return;
    m_doc.SetStringEntry(section, key, value);
    count();
}

void CSensorIniReader::SetDouble(std::string_view section, std::string_view key, double value) {
    double old = 0.0;
    if (m_doc.GetDoubleEntry(section, key, old) && old == value)
        return;
    m_doc.SetDoubleEntry(section, key, value);
    count();
}

void CSensorIniReader::SetLong(std::string_view section, std::string_view key, int32_t value) {
    int32_t old = 0;
    if (m_doc.GetLongEntry(section, key, old) && old == value)
        return;
    m_doc.SetLongEntry(section, key, value);
    count();
}
