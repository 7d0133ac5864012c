#include "platform/vyx/simflash.h"

#include "platform/vyx/simini.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>

namespace Vyx::sim {

SimSettings SimSettings::FromConfig(const SimConfig& c) {
    SimSettings s;
    s.exposure = c.exposure;
    s.frameRate = c.frameRate;
    s.gain = c.gain;
    s.lightIntensity = c.lightIntensity;
    s.triggerMode = c.triggerMode;
    s.clipX = c.clipX;
    s.clipY = c.clipY;
    s.clipWidth = c.clipWidth;
    s.clipHeight = c.clipHeight;
    s.scanningMode = (c.clipWidth == c.width && c.clipHeight == c.height) ? 1 : 2;
    s.param.CopyFrom(c.param);
    return s;
}

namespace {

void Append(std::string& text, const char* key, double value) {
    char line[80];
    snprintf(line, sizeof line, "%s=%.17g\n", key, value);
    text += line;
}

} // namespace

std::string FlashText(const SimSettings& s, bool withParam) {
    std::string text = "; Power-on settings of the simulated camera, written by FlashSettings\n"
                       "[Flash]\n";
    Append(text, "Exposure", s.exposure);
    Append(text, "FrameRate", s.frameRate);
    Append(text, "Gain", s.gain);
    Append(text, "LightIntensity", s.lightIntensity);
    Append(text, "TriggerMode", s.triggerMode);
    Append(text, "ClipX", s.clipX);
    Append(text, "ClipY", s.clipY);
    Append(text, "ClipWidth", s.clipWidth);
    Append(text, "ClipHeight", s.clipHeight);
    Append(text, "ScanningMode", s.scanningMode);
    Append(text, "TransferVolume", s.transferVolume);
    if (withParam) {
        const CParamKR7700& p = s.param;
        Append(text, "AESpeed", p.AESpeed);
        Append(text, "ParamLight", p.light);
        Append(text, "QLimit", p.QLimit);
        Append(text, "PhaseOff", p.PhaseOff);
        Append(text, "ErrMaxCnt", p.ErrMaxCnt);
        Append(text, "CIFMode", p.CIFMode);
        Append(text, "DACRngMin", p.DACRngMin);
        Append(text, "DACRngMax", p.DACRngMax);
        Append(text, "DeltaZ", p.DeltaZ);
        text += "LUT=";
        char number[32];
        for (int i = 0; i < CParamKR7700::LutSize; ++i) {
            snprintf(number, sizeof number, i == 0 ? "%.9g" : ",%.9g", p.LUT[i]);
            text += number;
        }
        text += "\n";
    }
    return text;
}

namespace {

bool ToDouble(const std::string& text, double& value) {
    errno = 0;
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return end != text.c_str() && *end == '\0' && errno == 0 && std::isfinite(value);
}

bool InRange(double value, double minimum, double maximum) {
    return value >= minimum && value <= maximum;
}

} // namespace

bool ParseFlash(const std::string& text, const SimConfig& config, SimSettings& s,
                std::string& error) {
    SimIni ini;
    if (!ini.Parse(text, error))
        return false;
    std::map<std::string, double> numbers;
    for (const auto& [key, value] : ini.Section("Flash")) {
        if (key == "LUT") {
            const char* cursor = value.c_str();
            for (int i = 0; i < CParamKR7700::LutSize; ++i) {
                char* end = nullptr;
                double entry = std::strtod(cursor, &end);
                if (end == cursor || !std::isfinite(entry) ||
                    (i + 1 < CParamKR7700::LutSize ? *end != ',' : *end != '\0')) {
                    error = "LUT: entry " + std::to_string(i + 1) + " is missing or malformed";
                    return false;
                }
                s.param.LUT[i] = static_cast<float>(entry);
                cursor = end + 1;
            }
            continue;
        }
        double number = 0;
        if (!ToDouble(value, number)) {
            error = "invalid value \"" + value + "\" for " + key;
            return false;
        }
        numbers[key] = number;
    }
    auto take = [&numbers](const char* key, auto& target) {
        auto found = numbers.find(key);
        if (found != numbers.end())
            target = static_cast<std::remove_reference_t<decltype(target)>>(found->second);
    };
    take("Exposure", s.exposure);
    take("FrameRate", s.frameRate);
    take("Gain", s.gain);
    take("LightIntensity", s.lightIntensity);
    take("TriggerMode", s.triggerMode);
    take("ClipX", s.clipX);
    take("ClipY", s.clipY);
    take("ClipWidth", s.clipWidth);
    take("ClipHeight", s.clipHeight);
    take("ScanningMode", s.scanningMode);
    take("TransferVolume", s.transferVolume);
    take("AESpeed", s.param.AESpeed);
    take("ParamLight", s.param.light);
    take("QLimit", s.param.QLimit);
    take("PhaseOff", s.param.PhaseOff);
    take("ErrMaxCnt", s.param.ErrMaxCnt);
    take("CIFMode", s.param.CIFMode);
    take("DACRngMin", s.param.DACRngMin);
    take("DACRngMax", s.param.DACRngMax);
    take("DeltaZ", s.param.DeltaZ);

    if (!InRange(s.exposure, config.exposureMin, config.exposureMax) ||
        !InRange(s.frameRate, config.frameRateMin, config.frameRateMax) ||
        !InRange(s.gain, config.gainMin, config.gainMax) ||
        !InRange(s.lightIntensity, config.lightMin, config.lightMax) || s.triggerMode < 0 ||
        s.triggerMode > config.triggerModeMax || (s.scanningMode != 1 && s.scanningMode != 2) ||
        s.transferVolume < 0 || s.transferVolume > 3) {
        error = "a value lies outside the camera's limits";
        return false;
    }
    if (!NormaliseClip(config, s.clipX, s.clipY, s.clipWidth, s.clipHeight, error))
        return false;
    if (config.HasSmartParams() && !CheckParam(s.param, error))
        return false;
    return true;
}

} // namespace Vyx::sim
