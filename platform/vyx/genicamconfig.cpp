#include "platform/vyx/genicamconfig.h"

#include "platform/vyx/simini.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace Vyx::genicam {

namespace {

// Text after a blank and ';' or '#' is a comment, as the module's INI writer puts them.
std::string WithoutComment(const std::string& value) {
    for (size_t i = 1; i < value.size(); ++i)
        if ((value[i] == ';' || value[i] == '#') && (value[i - 1] == ' ' || value[i - 1] == '\t')) {
            size_t end = value.find_last_not_of(" \t", i - 1);
            return end == std::string::npos ? std::string() : value.substr(0, end + 1);
        }
    return value;
}

bool ParsePositive(const std::string& text, double& value) {
    errno = 0;
    char* end = nullptr;
    double parsed = std::strtod(text.c_str(), &end);
    if (end == text.c_str() || *end != '\0' || errno != 0 || !std::isfinite(parsed) ||
        !(parsed > 0))
        return false;
    value = parsed;
    return true;
}

} // namespace

bool ReadGenicamConfig(const std::string& path, bool& present, GenicamConfig& config,
                       std::string& error) {
    present = false;
    std::error_code ec;
    if (path.empty() || !std::filesystem::exists(path, ec))
        return true;
    std::ifstream file(path, std::ios::binary);
    std::stringstream content;
    content << file.rdbuf();
    if (!file) {
        error = path + ": cannot read the file";
        return false;
    }
    sim::SimIni ini;
    std::string why;
    if (!ini.Parse(content.str(), why)) {
        error = path + ": " + why;
        return false;
    }
    // A section without entries is still a choice of the back end; it then lacks its device.
    if (!ini.HasSection("GenICam"))
        return true;
    auto entries = ini.Section("GenICam");
    present = true;

    GenicamConfig c;
    c.file = path;
    auto fail = [&](const std::string& message) {
        error = path + ": [GenICam] " + message;
        return false;
    };
    for (const auto& [key, raw] : entries) {
        const std::string value = WithoutComment(raw);
        if (key == "device") {
            c.device = value;
        } else if (key == "pixel_format") {
            if (!value.empty() && value != "Mono8" && value != "Mono10" && value != "Mono12" &&
                value != "Mono16")
                return fail("pixel_format \"" + value +
                            "\" is not taken: Mono8, Mono10, Mono12 or Mono16");
            c.pixelFormat = value;
        } else if (key == "pixel_width_mm" || key == "pixel_height_mm") {
            double& target = key == "pixel_width_mm" ? c.pixelWidthMm : c.pixelHeightMm;
            if (!ParsePositive(value, target))
                return fail(key + " \"" + value + "\" must be a number above 0");
        } else if (key == "light") {
            c.lightFeature = value;
        } else if (key == "user_set") {
            if (value.empty())
                return fail("user_set is empty");
            c.userSet = value;
        } else if (key == "buffers") {
            char* end = nullptr;
            errno = 0;
            long n = std::strtol(value.c_str(), &end, 10);
            if (end == value.c_str() || *end != '\0' || errno != 0 || n < 2 || n > 64)
                return fail("buffers \"" + value + "\" must lie in 2..64");
            c.buffers = static_cast<uint32_t>(n);
        } else if (key == "incomplete") {
            if (value != "broken" && value != "lost")
                return fail("incomplete \"" + value + "\" must be broken or lost");
            c.incompleteAsLost = value == "lost";
        } else {
            return fail("unknown key " + key);
        }
    }
    if (c.device.empty())
        return fail("device is missing: name the camera by its Aravis id, serial number or IP "
                    "address (vyxcam list shows them)");
    if ((c.pixelWidthMm > 0) != (c.pixelHeightMm > 0))
        return fail("give both pixel_width_mm and pixel_height_mm, or neither");
    config = c;
    return true;
}

} // namespace Vyx::genicam
