#include "platform/vyx/genicamconfig.h"

#include "platform/vyx/simini.h"

#include <cctype>
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

// A whole number in minimum..maximum, decimal digits only.
bool ParseCount(const std::string& text, long long minimum, long long maximum, uint32_t& value) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    errno = 0;
    const long long parsed = std::strtoll(text.c_str(), nullptr, 10);
    if (errno != 0 || parsed < minimum || parsed > maximum)
        return false;
    value = static_cast<uint32_t>(parsed);
    return true;
}

std::string Lower(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// The name of a section header that is [GenICam] but for its case, or empty. Section names
// are case-sensitive, so such a section would silently choose the simulated camera.
std::string MiscasedSection(const std::string& text) {
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        const size_t end = line.find(']');
        if (line.empty() || line[0] != '[' || end == std::string::npos)
            continue;
        const std::string name = line.substr(1, end - 1);
        if (name != "GenICam" && Lower(name) == "genicam")
            return name;
    }
    return std::string();
}

constexpr const char* kKeys[] = {"device",          "pixel_format",  "pixel_width_mm",
                                 "pixel_height_mm", "light",         "user_set",
                                 "buffers",         "incomplete",    "packet_socket",
                                 "packet_size",     "packet_resend", "socket_buffer"};

std::string UnknownKey(const std::string& key) {
    std::string known;
    for (const char* name : kKeys) {
        if (Lower(key) == name)
            return "unknown key " + key + " (keys are lower case: " + name + ")";
        known += known.empty() ? name : std::string(", ") + name;
    }
    return "unknown key " + key + " (known: " + known + ")";
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
    const std::string miscased = MiscasedSection(content.str());
    if (!miscased.empty()) {
        error = path + ": [" + miscased +
                "] is not a section of the camera library; a GenICam "
                "camera is chosen by [GenICam], written in this case";
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
            if (!ParseCount(value, 2, 64, c.buffers))
                return fail("buffers \"" + value + "\" must lie in 2..64");
        } else if (key == "incomplete") {
            if (value != "broken" && value != "lost")
                return fail("incomplete \"" + value + "\" must be broken or lost");
            c.incompleteAsLost = value == "lost";
        } else if (key == "packet_socket") {
            if (value != "auto" && value != "off")
                return fail("packet_socket \"" + value + "\" must be auto or off");
            c.packetSocket = value == "auto";
        } else if (key == "packet_resend") {
            if (value != "on" && value != "off")
                return fail("packet_resend \"" + value + "\" must be on or off");
            c.packetResend = value == "on";
        } else if (key == "packet_size") {
            c.packetSize = 0;
            if (value != "auto" && !ParseCount(value, 64, 65535, c.packetSize))
                return fail("packet_size \"" + value + "\" must be auto or bytes in 64..65535");
        } else if (key == "socket_buffer") {
            c.socketBufferBytes = 0;
            if (value != "auto" && !ParseCount(value, 4096, 2147483647, c.socketBufferBytes))
                return fail("socket_buffer \"" + value + "\" must be auto or at least 4096 bytes");
        } else {
            return fail(UnknownKey(key));
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
