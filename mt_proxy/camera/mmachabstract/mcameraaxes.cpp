#include "mt_proxy/camera/mmachabstract/mcameraaxes.h"

#include <limits>
#include <mutex>

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

} // namespace

MMachAxis& MCameraAxes::Register(const std::string& name, uint32_t flags, double minimum,
                                 double maximum, double accuracy, double step) {
    auto [it, added] = axes.try_emplace(name);
    MMachAxis& axis = it->second;
    if (added) {
        axis.index = axes.size() - 1;
        std::lock_guard<varn::ThreadMutex> guard(lock);
        if (!values.empty())
            values.resize(axes.size(), 0.0);
    }
    axis.name = name;
    axis.flags = flags;
    axis.minimum = minimum;
    axis.maximum = maximum;
    axis.accuracy = accuracy;
    axis.maxSpeed = 0.0;
    axis.maxAcceleration = 0.0;
    axis.step = step;
    axis.names.clear();
    return axis;
}

MMachAxis* MCameraAxes::Find(const std::string& name) {
    auto it = axes.find(name);
    return it == axes.end() ? nullptr : &it->second;
}

const MMachAxis* MCameraAxes::Find(const std::string& name) const {
    auto it = axes.find(name);
    return it == axes.end() ? nullptr : &it->second;
}

size_t MCameraAxes::IndexOf(const std::string& name) const {
    const MMachAxis* axis = Find(name);
    return axis == nullptr ? kNoAxis : static_cast<size_t>(axis->index);
}

const MMachAxis* MCameraAxes::First() {
    cursor = axes.begin();
    return Next();
}

const MMachAxis* MCameraAxes::Next() {
    if (cursor == axes.end())
        return nullptr;
    return &(cursor++)->second;
}

void MCameraAxes::AllocateValues() {
    std::lock_guard<varn::ThreadMutex> guard(lock);
    values.assign(axes.size(), 0.0);
}

void MCameraAxes::FreeValues() {
    std::lock_guard<varn::ThreadMutex> guard(lock);
    values.clear();
    values.shrink_to_fit();
}

double MCameraAxes::GetValue(const std::string& name) {
    const size_t index = IndexOf(name);
    return index == kNoAxis ? kNaN : GetValueAt(index);
}

bool MCameraAxes::SetValue(const std::string& name, double value) {
    const size_t index = IndexOf(name);
    if (index == kNoAxis)
        return false;
    SetValueAt(index, value);
    return true;
}

double MCameraAxes::GetValueAt(size_t index) {
    std::lock_guard<varn::ThreadMutex> guard(lock);
    return index < values.size() ? values[index] : kNaN;
}

void MCameraAxes::SetValueAt(size_t index, double value) {
    std::lock_guard<varn::ThreadMutex> guard(lock);
    if (index < values.size())
        values[index] = value;
}

void MCameraAxes::GetValues(const std::vector<size_t>& indexes, std::vector<double>& out) {
    out.resize(indexes.size());
    std::lock_guard<varn::ThreadMutex> guard(lock);
    for (size_t i = 0; i < indexes.size(); ++i)
        out[i] = indexes[i] < values.size() ? values[indexes[i]] : kNaN;
}
