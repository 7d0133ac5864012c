#include "platform/vyx/simconfig.h"

#include "platform/vyx/cimgsensors.h"
#include "platform/vyx/simini.h"
#include "platform/vyx/simreplay.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>

namespace Vyx::sim {

namespace {

// A value may be followed by blanks and a comment, nothing else.
bool OnlyCommentLeft(const char* rest) {
    while (*rest == ' ' || *rest == '\t')
        ++rest;
    return *rest == '\0' || *rest == ';' || *rest == '#';
}

bool ParseDouble(const std::string& text, double& value) {
    errno = 0;
    char* end = nullptr;
    double parsed = std::strtod(text.c_str(), &end);
    if (end == text.c_str() || errno != 0 || !std::isfinite(parsed) || !OnlyCommentLeft(end))
        return false;
    value = parsed;
    return true;
}

bool ParseLong(const std::string& text, long long minimum, long long maximum, long long& value) {
    errno = 0;
    char* end = nullptr;
    long long parsed = std::strtoll(text.c_str(), &end, 10);
    if (end == text.c_str() || errno != 0 || !OnlyCommentLeft(end) || parsed < minimum ||
        parsed > maximum)
        return false;
    value = parsed;
    return true;
}

bool ParseBool(const std::string& text, bool& value) {
    std::string word = text.substr(0, text.find_first_of(" \t;#"));
    if (word == "1" || word == "true" || word == "yes" || word == "on")
        value = true;
    else if (word == "0" || word == "false" || word == "no" || word == "off")
        value = false;
    else
        return false;
    return true;
}

template <typename T> auto Number(T& target, long long minimum, long long maximum) {
    return [&target, minimum, maximum](const std::string& text) {
        long long value = 0;
        if (!ParseLong(text, minimum, maximum, value))
            return false;
        target = static_cast<T>(value);
        return true;
    };
}

auto Real(double& target) {
    return [&target](const std::string& text) { return ParseDouble(text, target); };
}

auto Real(float& target) {
    return [&target](const std::string& text) {
        double value = 0;
        if (!ParseDouble(text, value))
            return false;
        target = static_cast<float>(value);
        return true;
    };
}

auto Text(std::string& target) {
    return [&target](const std::string& text) {
        target = text;
        return true;
    };
}

auto Flag(bool& target) {
    return [&target](const std::string& text) { return ParseBool(text, target); };
}

auto Faults(std::vector<FaultRule>& rules, SimFault fault, std::string& error) {
    return [&rules, fault, &error](const std::string& text) {
        return SimFaultPlan::ParseList(fault, text, rules, error);
    };
}

void ApplyFibrePreset(SimConfig& config) {
    config.manufacturer = "ABS";
    config.deviceName = "KR7700";
    config.serialNumber = "KR7700-SIM01";
    config.productVersion = "2.1";
    config.cpldVersion = "1.3";
    config.bootloaderVersion = "1.1";
    config.fpgaVersion = "2.4";
    config.pixelWidthMm = 0.00625;
    config.pixelHeightMm = 0.005859375;
    config.gain = 0.5;
    config.gainMax = 1;
}

bool ApplyEntries(const std::vector<std::pair<std::string, std::string>>& entries, SimConfig& c,
                  std::string& error) {
    std::vector<std::string> infoOmit;
    std::string faultError;
    uint32_t dropEvery = 0;
    bool dropEveryGiven = false;
    const std::map<std::string, std::function<bool(const std::string&)>> keys = {
        {"Connected", Flag(c.connected)},
        {"Manufacturer", Text(c.manufacturer)},
        {"DeviceName", Text(c.deviceName)},
        {"SerialNumber", Text(c.serialNumber)},
        {"ProductVersion", Text(c.productVersion)},
        {"DllVersion", Text(c.dllVersion)},
        {"DriverVersion", Text(c.driverVersion)},
        {"CpldVersion", Text(c.cpldVersion)},
        {"BootloaderVersion", Text(c.bootloaderVersion)},
        {"FpgaVersion", Text(c.fpgaVersion)},
        {"InfoOmit",
         [&c](const std::string& text) {
             c.infoOmit.clear();
             std::stringstream list(text);
             std::string item;
             while (std::getline(list, item, ',')) {
                 size_t begin = item.find_first_not_of(" \t");
                 if (begin != std::string::npos)
                     c.infoOmit.push_back(
                         item.substr(begin, item.find_last_not_of(" \t") + 1 - begin));
             }
             return true;
         }},
        {"CameraInfo",
         [&c](const std::string& text) {
             c.hasCameraInfo = true;
             c.cameraInfo = text;
             return true;
         }},
        {"Width", Number(c.width, 1, 16384)},
        {"Height", Number(c.height, 1, 16384)},
        {"PixelFormat", Number(c.pixelFormat, 0, 0xFFFF)},
        {"BytesPerPixel", Number(c.bytesPerPixel, 1, 4)},
        {"Arrangement", Number(c.arrangement, 0, 0xFFFF)},
        {"PixelWidthMm", Real(c.pixelWidthMm)},
        {"PixelHeightMm", Real(c.pixelHeightMm)},
        {"FrameRate", Real(c.frameRate)},
        {"FrameRateMin", Real(c.frameRateMin)},
        {"FrameRateMax", Real(c.frameRateMax)},
        {"Exposure", Real(c.exposure)},
        {"ExposureMin", Real(c.exposureMin)},
        {"ExposureMax", Real(c.exposureMax)},
        {"Gain", Real(c.gain)},
        {"GainMin", Real(c.gainMin)},
        {"GainMax", Real(c.gainMax)},
        {"LightChannels", Number(c.lightChannels, 0, 1)},
        {"LightIntensity", Real(c.lightIntensity)},
        {"LightMin", Real(c.lightMin)},
        {"LightMax", Real(c.lightMax)},
        {"TriggerMode", Number(c.triggerMode, 0, 1000)},
        {"TriggerModeMax", Number(c.triggerModeMax, 0, 1000)},
        {"TemperatureSensor", Flag(c.temperatureSensor)},
        {"Temperature", Real(c.temperature)},
        {"ClipWidthMin", Number(c.clipWidthMin, 1, 16384)},
        {"ClipWidthInc", Number(c.clipWidthInc, 1, 16384)},
        {"ClipHeightMin", Number(c.clipHeightMin, 1, 16384)},
        {"ClipHeightInc", Number(c.clipHeightInc, 1, 16384)},
        {"ClipXInc", Number(c.clipXInc, 1, 16384)},
        {"ClipYInc", Number(c.clipYInc, 1, 16384)},
        {"ClipX", Number(c.clipX, 0, 16384)},
        {"ClipY", Number(c.clipY, 0, 16384)},
        {"ClipWidth", Number(c.clipWidth, 0, 16384)},
        {"ClipHeight", Number(c.clipHeight, 0, 16384)},
        {"TimeStampUnit",
         [&c](const std::string& text) {
             std::string word = text.substr(0, text.find_first_of(" \t;#"));
             if (word == "ns")
                 c.timeStampKind = TimeStamp_Nanoseconds;
             else if (word == "us")
                 c.timeStampKind = TimeStamp_Microseconds;
             else
                 return false;
             return true;
         }},
        {"Mode",
         [&c](const std::string& text) {
             std::string word = text.substr(0, text.find_first_of(" \t;#"));
             if (word == "realtime")
                 c.mode = SimMode::RealTime;
             else if (word == "freerun")
                 c.mode = SimMode::FreeRun;
             else if (word == "manual")
                 c.mode = SimMode::Manual;
             else
                 return false;
             return true;
         }},
        {"FlashFile", Text(c.flashFile)},
        {"Replay", Text(c.replayDir)},
        {"ReplayEnd",
         [&c](const std::string& text) {
             std::string word = text.substr(0, text.find_first_of(" \t;#"));
             if (word != "loop" && word != "stall")
                 return false;
             c.replayLoop = word == "loop";
             return true;
         }},
        {"ReplayTrigger", Text(c.replayTrigger)},
        {"CIFMode", Number(c.param.CIFMode, -1000, 1000)},
        {"QLimit", Real(c.param.QLimit)},
        {"AESpeed", Real(c.param.AESpeed)},
        {"PhaseOff", Real(c.param.PhaseOff)},
        {"ErrMaxCnt", Number(c.param.ErrMaxCnt, 0, 0xFFFF)},
        {"DACRngMin", Real(c.param.DACRngMin)},
        {"DACRngMax", Real(c.param.DACRngMax)},
        {"DeltaZ", Real(c.param.DeltaZ)},
        {"ParamLight", Real(c.param.light)},
        {"DropFrames", Faults(c.faults, SimFault::Drop, faultError)},
        {"BrokenFrames", Faults(c.faults, SimFault::Broken, faultError)},
        {"CounterZeroFrames", Faults(c.faults, SimFault::CounterZero, faultError)},
        {"Stall", Faults(c.faults, SimFault::Stall, faultError)},
        {"DropEvery",
         [&dropEvery, &dropEveryGiven](const std::string& text) {
             long long value = 0;
             if (!ParseLong(text, 0, 1000000000, value) || value == 1)
                 return false;
             dropEvery = static_cast<uint32_t>(value);
             dropEveryGiven = true;
             return true;
         }},
    };

    // The preset first, so that the other keys refine it wherever they stand.
    for (const auto& [key, value] : entries) {
        if (key != "Model")
            continue;
        std::string word = value.substr(0, value.find_first_of(" \t;#"));
        if (word == "fibre" || word == "fiber") {
            ApplyFibrePreset(c);
        } else if (word != "standard") {
            error = "invalid value \"" + value + "\" for Model (standard or fibre)";
            return false;
        }
    }
    for (const auto& [key, value] : entries) {
        if (key == "Model")
            continue;
        auto handler = keys.find(key);
        if (handler == keys.end()) {
            error = "unknown key " + key;
            return false;
        }
        faultError.clear();
        if (!handler->second(value)) {
            error = "invalid value \"" + value + "\" for " + key;
            if (!faultError.empty())
                error += ": " + faultError;
            return false;
        }
    }
    if (dropEveryGiven && dropEvery > 0)
        c.faults.push_back({SimFault::Drop, dropEvery, UINT64_MAX, dropEvery, 0});
    return true;
}

} // namespace

bool ReadSimConfig(const std::string& path, bool mustExist, SimConfig& config, std::string& error) {
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) {
        if (!mustExist)
            return true;
        error = path + ": file not found";
        return false;
    }
    std::ifstream file(path, std::ios::binary);
    std::stringstream content;
    content << file.rdbuf();
    if (!file) {
        error = path + ": cannot read the file";
        return false;
    }
    SimIni ini;
    std::string why;
    if (!ini.Parse(content.str(), why)) {
        error = path + ": " + why;
        return false;
    }
    const std::string replayDir = config.replayDir, replayTrigger = config.replayTrigger;
    if (!ApplyEntries(ini.Section("SimCamera"), config, why)) {
        error = path + ": [SimCamera] " + why;
        return false;
    }
    // A recording travels with the configuration that plays it.
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    for (auto [value, before] : {std::pair{&config.replayDir, &replayDir},
                                 std::pair{&config.replayTrigger, &replayTrigger}})
        if (*value != *before && !value->empty() && std::filesystem::path(*value).is_relative()) {
            std::filesystem::path joined = (folder / *value).lexically_normal();
            *value = (joined.has_filename() ? joined : joined.parent_path()).string();
        }
    return true;
}

namespace {

// The camera the recording was made with, as far as a replay shows it.
void ApplyRecording(const RecordingInfo& info, SimConfig& c) {
    c.width = info.width;
    c.height = info.height;
    c.pixelFormat = info.pixelFormat;
    c.bytesPerPixel = info.bytesPerPixel;
    c.frameRate = info.frameRate;
    c.frameRateMin = std::min(c.frameRateMin, info.frameRate);
    c.frameRateMax = std::max(c.frameRateMax, info.frameRate);
    c.temperatureSensor = info.temperature;
    c.temperature = info.firstTemperature;
    // Any region of a recording of any size can be cut out.
    c.clipX = c.clipY = 0;
    c.clipWidth = c.clipHeight = 0;
    c.clipWidthMin = c.clipHeightMin = 1;
    c.clipWidthInc = c.clipHeightInc = c.clipXInc = c.clipYInc = 1;
}

} // namespace

namespace {

bool CheckRange(const char* name, double value, double minimum, double maximum,
                std::string& error) {
    if (minimum > maximum) {
        error = std::string(name) + "Min is above " + name + "Max";
        return false;
    }
    if (value < minimum || value > maximum) {
        error = std::string(name) + " is outside " + name + "Min.." + name + "Max";
        return false;
    }
    return true;
}

} // namespace

bool FinishSimConfig(SimConfig& c, std::string& error) {
    switch (c.pixelFormat) {
    case 2:
        c.bytesPerPixel = 1, c.bitsPerPixel = 8;
        break;
    case 4:
        c.bytesPerPixel = 2, c.bitsPerPixel = 10;
        break;
    case 6:
    case 200:
        c.bytesPerPixel = 2, c.bitsPerPixel = 12;
        break;
    case 21:
    case 22:
    case 34:
    case 38:
        c.bytesPerPixel = 3, c.bitsPerPixel = 24;
        break;
    default:
        // A camera of another format: what it stores is what BytesPerPixel says.
        c.bitsPerPixel = 8 * c.bytesPerPixel;
        break;
    }
    if (!(c.pixelWidthMm > 0) || !(c.pixelHeightMm > 0)) {
        error = "PixelWidthMm and PixelHeightMm must be above 0";
        return false;
    }
    if (!(c.frameRateMin > 0)) {
        error = "FrameRateMin must be above 0";
        return false;
    }
    if (!(c.exposureMin > 0)) {
        error = "ExposureMin must be above 0";
        return false;
    }
    if (!CheckRange("FrameRate", c.frameRate, c.frameRateMin, c.frameRateMax, error) ||
        !CheckRange("Exposure", c.exposure, c.exposureMin, c.exposureMax, error) ||
        !CheckRange("Gain", c.gain, c.gainMin, c.gainMax, error) ||
        !CheckRange("Light", c.lightIntensity, c.lightMin, c.lightMax, error))
        return false;
    if (c.triggerMode > c.triggerModeMax) {
        error = "TriggerMode is above TriggerModeMax";
        return false;
    }
    // The camera sensor aligns sizes and offsets to "maximum minus a multiple of
    // the increment"; the camera accepts exactly those values.
    if (c.clipWidthMin > static_cast<int32_t>(c.width) ||
        c.clipHeightMin > static_cast<int32_t>(c.height)) {
        error = "ClipWidthMin/ClipHeightMin exceed the sensor size";
        return false;
    }
    if ((static_cast<int32_t>(c.width) - c.clipWidthMin) % c.clipWidthInc != 0 ||
        (static_cast<int32_t>(c.height) - c.clipHeightMin) % c.clipHeightInc != 0) {
        error = "Width - ClipWidthMin must be a multiple of ClipWidthInc, and Height - "
                "ClipHeightMin of ClipHeightInc";
        return false;
    }
    if ((static_cast<int32_t>(c.width) - c.clipWidthMin) % c.clipXInc != 0 ||
        (static_cast<int32_t>(c.height) - c.clipHeightMin) % c.clipYInc != 0) {
        error = "Width - ClipWidthMin must be a multiple of ClipXInc, and Height - "
                "ClipHeightMin of ClipYInc";
        return false;
    }
    std::string why;
    if (!NormaliseClip(c, c.clipX, c.clipY, c.clipWidth, c.clipHeight, why)) {
        error = "power-on clipping region: " + why;
        return false;
    }
    if (c.HasSmartParams() && !CheckParam(c.param, why)) {
        error = "power-on parameter block: " + why;
        return false;
    }
    return true;
}

bool LoadSimConfig(const char* configFile, SimConfig& config, std::string& files,
                   std::string& error) {
    files.clear();
    std::error_code ec;
    if (configFile != nullptr && *configFile != '\0') {
        std::string path = configFile;
#if !defined(_WIN32)
        // Callers written for Windows join folder and file with a backslash.
        std::replace(path.begin(), path.end(), '\\', '/');
#endif
        if (!ReadSimConfig(path, false, config, error))
            return false;
        if (std::filesystem::exists(path, ec))
            files = path;
    }
    // The environment's file refines the machine's, key by key.
    const char* overrides = getenv("VYX_SIMCAMERA_INI");
    if (overrides != nullptr && *overrides != '\0') {
        if (!ReadSimConfig(overrides, true, config, error))
            return false;
        if (!files.empty())
            files += ';';
        files += overrides;
    }
    std::string why;
    RecordingInfo recording;
    if (!config.replayDir.empty()) {
        if (!ReadRecordingInfo(config.replayDir, recording, why)) {
            error = "Replay: " + why;
            return false;
        }
        ApplyRecording(recording, config);
    }
    if (!FinishSimConfig(config, why)) {
        error = "configuration " + (files.empty() ? std::string("(defaults)") : files) + ": " + why;
        return false;
    }
    if (!config.replayDir.empty() && config.bytesPerPixel != recording.bytesPerPixel) {
        error = "Replay = " + config.replayDir + ": pixel format " +
                std::to_string(recording.pixelFormat) + " has " +
                std::to_string(config.bytesPerPixel) + " bytes per pixel, the recording " +
                std::to_string(recording.bytesPerPixel);
        return false;
    }
    return true;
}

bool NormaliseClip(const SimConfig& c, int32_t& x, int32_t& y, uint32_t& width, uint32_t& height,
                   std::string& error) {
    if (width == 0)
        width = c.width;
    if (height == 0)
        height = c.height;
    char text[200];
    if (x < 0 || y < 0 || static_cast<uint64_t>(x) + width > c.width ||
        static_cast<uint64_t>(y) + height > c.height) {
        snprintf(text, sizeof text, "region %ux%u%+d%+d lies outside the %ux%u sensor", width,
                 height, x, y, c.width, c.height);
        error = text;
        return false;
    }
    int32_t w = static_cast<int32_t>(width), h = static_cast<int32_t>(height);
    int32_t maxX = static_cast<int32_t>(c.width) - c.clipWidthMin;
    int32_t maxY = static_cast<int32_t>(c.height) - c.clipHeightMin;
    if (w < c.clipWidthMin || h < c.clipHeightMin ||
        (static_cast<int32_t>(c.width) - w) % c.clipWidthInc != 0 ||
        (static_cast<int32_t>(c.height) - h) % c.clipHeightInc != 0 ||
        (maxX - x) % c.clipXInc != 0 || (maxY - y) % c.clipYInc != 0) {
        snprintf(text, sizeof text,
                 "region %ux%u%+d%+d is off the camera's steps (width %d+%dn, height %d+%dn, "
                 "x step %d, y step %d)",
                 width, height, x, y, c.clipWidthMin, c.clipWidthInc, c.clipHeightMin,
                 c.clipHeightInc, c.clipXInc, c.clipYInc);
        error = text;
        return false;
    }
    return true;
}

bool ClipLimits(const SimConfig& c, int32_t axis, int32_t& minimum, int32_t& maximum,
                int32_t& increment) {
    switch (axis) {
    case ClipAxis_OffsetX:
        minimum = 0, maximum = static_cast<int32_t>(c.width) - c.clipWidthMin,
        increment = c.clipXInc;
        return true;
    case ClipAxis_OffsetY:
        minimum = 0, maximum = static_cast<int32_t>(c.height) - c.clipHeightMin,
        increment = c.clipYInc;
        return true;
    case ClipAxis_Width:
        minimum = c.clipWidthMin, maximum = static_cast<int32_t>(c.width),
        increment = c.clipWidthInc;
        return true;
    case ClipAxis_Height:
        minimum = c.clipHeightMin, maximum = static_cast<int32_t>(c.height),
        increment = c.clipHeightInc;
        return true;
    default:
        return false;
    }
}

bool CheckParam(const CParamKR7700& p, std::string& error) {
    const float values[] = {p.AESpeed,   p.light,     p.QLimit, p.PhaseOff,
                            p.DACRngMin, p.DACRngMax, p.DeltaZ};
    for (float value : values)
        if (!std::isfinite(value)) {
            error = "a value is not a finite number";
            return false;
        }
    for (float value : p.LUT)
        if (!std::isfinite(value)) {
            error = "a look-up table entry is not a finite number";
            return false;
        }
    if (p.light < 0 || p.light > 1) {
        error = "light must lie in 0..1";
        return false;
    }
    if (p.CIFMode < 0 || p.CIFMode > 7) {
        error = "CIFMode must lie in 0..7";
        return false;
    }
    if (p.DACRngMin > p.DACRngMax) {
        error = "DACRngMin is above DACRngMax";
        return false;
    }
    return true;
}

} // namespace Vyx::sim
