#include "platform/vyx/genicam/genicamfeatures.h"

#include <arv.h>

#include <cmath>

namespace Vyx::genicam {

namespace {

// True when Aravis reported no error; otherwise its message goes to why.
bool Ok(GError*& error, std::string& why) {
    if (error == nullptr)
        return true;
    why = error->message != nullptr ? error->message : "unknown error";
    g_clear_error(&error);
    return false;
}

} // namespace

bool CGenicamFeatures::Has(const char* feature) const {
    GError* error = nullptr;
    const bool available = arv_camera_is_feature_available(m_camera, feature, &error);
    g_clear_error(&error);
    return available;
}

bool CGenicamFeatures::IsFloat(const char* feature) const {
    ArvGcNode* node = arv_device_get_feature(arv_camera_get_device(m_camera), feature);
    return node != nullptr && ARV_IS_GC_FLOAT(node);
}

bool CGenicamFeatures::IsInteger(const char* feature) const {
    ArvGcNode* node = arv_device_get_feature(arv_camera_get_device(m_camera), feature);
    return node != nullptr && ARV_IS_GC_INTEGER(node);
}

bool CGenicamFeatures::GetString(const char* feature, std::string& value, std::string& why) const {
    GError* error = nullptr;
    const char* text = arv_camera_get_string(m_camera, feature, &error);
    if (!Ok(error, why))
        return false;
    value = text != nullptr ? text : "";
    return true;
}

bool CGenicamFeatures::SetString(const char* feature, const std::string& value,
                                 std::string& why) const {
    GError* error = nullptr;
    arv_camera_set_string(m_camera, feature, value.c_str(), &error);
    return Ok(error, why);
}

bool CGenicamFeatures::GetInteger(const char* feature, int64_t& value, std::string& why) const {
    GError* error = nullptr;
    const gint64 read = arv_camera_get_integer(m_camera, feature, &error);
    if (!Ok(error, why))
        return false;
    value = read;
    return true;
}

bool CGenicamFeatures::IntegerLimits(const char* feature, int64_t& minimum, int64_t& maximum,
                                     int64_t& increment, std::string& why) const {
    GError* error = nullptr;
    gint64 low = 0, high = 0;
    arv_camera_get_integer_bounds(m_camera, feature, &low, &high, &error);
    if (!Ok(error, why))
        return false;
    const gint64 step = arv_camera_get_integer_increment(m_camera, feature, &error);
    if (!Ok(error, why))
        return false;
    minimum = low;
    maximum = high;
    increment = step > 0 ? step : 1;
    return true;
}

bool CGenicamFeatures::GetFloat(const char* feature, double& value, std::string& why) const {
    GError* error = nullptr;
    const double read = arv_camera_get_float(m_camera, feature, &error);
    if (!Ok(error, why))
        return false;
    value = read;
    return true;
}

bool CGenicamFeatures::SetFloat(const char* feature, double value, std::string& why) const {
    GError* error = nullptr;
    arv_camera_set_float(m_camera, feature, value, &error);
    return Ok(error, why);
}

bool CGenicamFeatures::FloatLimits(const char* feature, double& minimum, double& maximum,
                                   std::string& why) const {
    GError* error = nullptr;
    arv_camera_get_float_bounds(m_camera, feature, &minimum, &maximum, &error);
    return Ok(error, why);
}

bool CGenicamFeatures::Execute(const char* feature, std::string& why) const {
    GError* error = nullptr;
    arv_camera_execute_command(m_camera, feature, &error);
    return Ok(error, why);
}

bool CGenicamFeatures::GetNumber(const char* feature, double& value, std::string& why) const {
    if (IsFloat(feature))
        return GetFloat(feature, value, why);
    int64_t read = 0;
    if (!GetInteger(feature, read, why))
        return false;
    value = static_cast<double>(read);
    return true;
}

bool CGenicamFeatures::SetNumber(const char* feature, double value, std::string& why) const {
    if (IsFloat(feature))
        return SetFloat(feature, value, why);
    GError* error = nullptr;
    arv_camera_set_integer(m_camera, feature, static_cast<gint64>(std::llround(value)), &error);
    return Ok(error, why);
}

bool CGenicamFeatures::NumberLimits(const char* feature, double& minimum, double& maximum,
                                    std::string& why) const {
    if (IsFloat(feature))
        return FloatLimits(feature, minimum, maximum, why);
    int64_t low = 0, high = 0, step = 0;
    if (!IntegerLimits(feature, low, high, step, why))
        return false;
    minimum = static_cast<double>(low);
    maximum = static_cast<double>(high);
    return true;
}

} // namespace Vyx::genicam
