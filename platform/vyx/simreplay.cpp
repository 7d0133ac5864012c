#include "platform/vyx/simreplay.h"

#include "platform/vyx/simini.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>

namespace Vyx::sim {

namespace {

constexpr const char* kColumns = "clock,time,trigger_count,lock,imageindex,temp_camera,frame";
constexpr uint64_t kCounterModulus = 0xFFFFFFFFull; // counters run 1..2^32-1, 0 is no counter

uint32_t NextCounter(uint32_t counter) {
    return counter == 0xFFFFFFFFu ? 1u : counter + 1;
}

bool ReadWhole(const std::string& path, std::string& bytes) {
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return false;
    std::stringstream content;
    content << file.rdbuf();
    bytes = content.str();
    return !file.bad();
}

std::string InDir(const std::string& dir, const std::string& name) {
    return (std::filesystem::path(dir) / name).string();
}

std::string IniPath(const std::string& dir) {
    return InDir(dir, "recording.ini");
}

bool ReadIni(const std::string& dir, SimIni& ini, std::string& error) {
    std::string text, why;
    if (!ReadWhole(IniPath(dir), text)) {
        error = IniPath(dir) + ": cannot read the file (is " + dir + " a recording?)";
        return false;
    }
    if (!ini.Parse(text, why)) {
        error = IniPath(dir) + ": " + why;
        return false;
    }
    return true;
}

bool ParseUnsigned(const std::string& text, uint64_t maximum, uint64_t& value) {
    if (text.empty() || text[0] < '0' || text[0] > '9')
        return false;
    errno = 0;
    char* end = nullptr;
    unsigned long long parsed = std::strtoull(text.c_str(), &end, 10);
    if (*end != '\0' || errno != 0 || parsed > maximum)
        return false;
    value = parsed;
    return true;
}

// A time as lintelhost writes it (seconds, up to six decimals), exactly, in microseconds.
bool ParseMicroseconds(const std::string& text, uint64_t& us) {
    size_t dot = text.find('.');
    uint64_t seconds = 0;
    if (!ParseUnsigned(text.substr(0, dot), 1ull << 40, seconds))
        return false;
    uint64_t fraction = 0;
    if (dot != std::string::npos) {
        std::string digits = text.substr(dot + 1);
        if (digits.empty() || digits.size() > 6 || !ParseUnsigned(digits, 999999, fraction))
            return false;
        for (size_t i = digits.size(); i < 6; ++i)
            fraction *= 10;
    }
    us = seconds * 1000000 + fraction;
    return true;
}

bool ParseReal(const std::string& text, double& value) {
    errno = 0;
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return !text.empty() && *end == '\0' && errno == 0;
}

struct Line {
    uint64_t timeUs = 0;
    uint32_t counter = 0;
    bool lock = false;
    double celsius = 0;
    std::string frame;
};

bool ParseLine(const std::string& value, Line& line) {
    std::vector<std::string> fields;
    std::stringstream list(value);
    std::string field;
    while (std::getline(list, field, ','))
        fields.push_back(field);
    if (fields.size() == 6 && !value.empty() && value.back() == ',')
        fields.emplace_back(); // a line without a frame ends in its comma
    uint64_t counter = 0, lock = 0;
    if (fields.size() != 7 || !ParseMicroseconds(fields[1], line.timeUs) ||
        !ParseUnsigned(fields[2], 0xFFFFFFFFull, counter) || !ParseUnsigned(fields[3], 1, lock))
        return false;
    line.counter = static_cast<uint32_t>(counter);
    line.lock = lock != 0;
    line.frame = fields[6];
    // "nan" where the camera has no temperature sensor.
    if (!ParseReal(fields[5], line.celsius))
        return false;
    return line.frame.find_first_of("/\\") == std::string::npos && line.frame != ".." &&
           (line.lock || !line.frame.empty());
}

// Netpbm image: P5 grey (1 byte, or 2 bytes big-endian above maxval 255), P6 RGB of bytes.
bool ReadFrame(const std::string& path, const RecordingInfo& info, uint8_t* out,
               std::string& error) {
    std::string bytes;
    if (!ReadWhole(path, bytes)) {
        error = path + ": cannot read the file";
        return false;
    }
    size_t pos = 2;
    uint64_t values[3] = {};
    for (uint64_t& value : values) {
        while (pos < bytes.size() &&
               (isspace(static_cast<unsigned char>(bytes[pos])) || bytes[pos] == '#')) {
            if (bytes[pos] == '#')
                pos = bytes.find('\n', pos);
            pos = pos == std::string::npos ? bytes.size() : pos + 1;
        }
        size_t start = pos;
        while (pos < bytes.size() && bytes[pos] >= '0' && bytes[pos] <= '9')
            ++pos;
        if (pos == start || !ParseUnsigned(bytes.substr(start, pos - start), 65535, value)) {
            error = path + ": not a PGM or PPM file";
            return false;
        }
    }
    const bool grey = bytes.compare(0, 2, "P5") == 0, colour = bytes.compare(0, 2, "P6") == 0;
    const uint32_t sampleBytes = values[2] > 255 ? 2 : 1;
    const uint32_t bytesPerPixel = colour ? 3 * sampleBytes : sampleBytes;
    if ((!grey && !colour) || values[2] == 0 || pos >= bytes.size() ||
        !isspace(static_cast<unsigned char>(bytes[pos]))) {
        error = path + ": not a PGM or PPM file";
        return false;
    }
    ++pos;
    if (values[0] != info.width || values[1] != info.height ||
        bytesPerPixel != info.bytesPerPixel) {
        error = path + ": " + std::to_string(values[0]) + "x" + std::to_string(values[1]) +
                " pixels of " + std::to_string(bytesPerPixel) + " bytes, the recording has " +
                std::to_string(info.width) + "x" + std::to_string(info.height) + " of " +
                std::to_string(info.bytesPerPixel);
        return false;
    }
    const size_t size = size_t{info.width} * info.height * info.bytesPerPixel;
    if (bytes.size() - pos != size) {
        error = path + ": " + std::to_string(bytes.size() - pos) + " bytes of pixels, expected " +
                std::to_string(size);
        return false;
    }
    const auto* in = reinterpret_cast<const uint8_t*>(bytes.data() + pos);
    if (sampleBytes == 2) {
        // The camera delivers its samples little-endian.
        for (size_t i = 0; i < size; i += 2) {
            out[i] = in[i + 1];
            out[i + 1] = in[i];
        }
    } else {
        std::copy(in, in + size, out);
    }
    return true;
}

} // namespace

bool ReadRecordingInfo(const std::string& dir, RecordingInfo& info, std::string& error) {
    SimIni ini;
    if (!ReadIni(dir, ini, error))
        return false;
    std::map<std::string, std::string> keys;
    for (const auto& [key, value] : ini.Section("Recording"))
        keys[key] = value;
    auto fail = [&](const char* key, const char* why) {
        error = IniPath(dir) + ": [Recording] " + key + ": " + why;
        return false;
    };
    auto number = [&](const char* key, uint64_t minimum, uint64_t maximum, uint32_t& target) {
        uint64_t value = 0;
        auto found = keys.find(key);
        if (found == keys.end())
            return fail(key, "missing");
        if (!ParseUnsigned(found->second, maximum, value) || value < minimum)
            return fail(key, "not a whole number in range");
        target = static_cast<uint32_t>(value);
        return true;
    };
    uint32_t version = 0, temperature = 0;
    if (!number("Version", 1, 1, version) || !number("Width", 1, 16384, info.width) ||
        !number("Height", 1, 16384, info.height) ||
        !number("PixelFormat", 0, 0xFFFF, info.pixelFormat) ||
        !number("BitsPerPixel", 1, 32, info.bitsPerPixel) ||
        !number("BytesPerPixel", 1, 3, info.bytesPerPixel) ||
        !number("Temperature", 0, 1, temperature))
        return false;
    info.temperature = temperature != 0;
    if (!ParseReal(keys["FrameRate"], info.frameRate) || !(info.frameRate > 0) ||
        !std::isfinite(info.frameRate))
        return fail("FrameRate", "missing or not above 0");
    if (keys["Columns"] != kColumns)
        return fail("Columns", "not the columns this camera plays");
    info.firstTemperature = 0;
    for (const auto& [key, value] : ini.Section("Lines")) {
        Line line;
        if (ParseLine(value, line) && !line.lock) {
            info.firstTemperature = line.celsius;
            break;
        }
    }
    return true;
}

bool SimReplay::Load(const std::string& dir, std::string& error) {
    Release();
    RecordingInfo info;
    SimIni ini;
    if (!ReadRecordingInfo(dir, info, error) || !ReadIni(dir, ini, error))
        return false;
    const auto entries = ini.Section("Lines");
    std::vector<Line> lines(entries.size());
    size_t images = 0;
    for (size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].first != std::to_string(i + 1) || !ParseLine(entries[i].second, lines[i])) {
            error = IniPath(dir) + ": [Lines] entry " + std::to_string(i + 1) + " (" +
                    entries[i].first + " = " + entries[i].second + "): expected " +
                    std::to_string(i + 1) + " = " + kColumns;
            return false;
        }
        images += !lines[i].lock;
    }
    if (images == 0) {
        error = IniPath(dir) + ": no line with an image";
        return false;
    }
    const size_t frameBytes = size_t{info.width} * info.height * info.bytesPerPixel;
    try {
        m_pixels.resize(images * frameBytes);
    } catch (const std::exception&) { // bad_alloc, or length_error beyond the address space
        error = dir + ": out of memory for " + std::to_string(images) + " frames";
        return false;
    }

    // A run of "lock" 1 lines that the next frame explains (same time, the counters just
    // before its own, right after the previous frame's) was a counter jump: skip those counters.
    // Any other such line becomes a frame without pixels that stands for it alone.
    size_t image = 0;
    size_t run = 0; // lock 1 lines waiting before lines[i]
    for (size_t i = 0; i <= lines.size(); ++i) {
        if (i < lines.size() && lines[i].lock) {
            ++run;
            continue;
        }
        bool skipped = false;
        if (run > 0 && i < lines.size() && !m_frames.empty()) {
            skipped = NextCounter(m_frames.back().counter) == lines[i - run].counter;
            for (size_t k = i - run; k < i && skipped; ++k)
                skipped = lines[k].timeUs == lines[i].timeUs &&
                          NextCounter(lines[k].counter) ==
                              (k + 1 < i ? lines[k + 1].counter : lines[i].counter);
        }
        for (size_t k = i - run; k < i && !skipped; ++k)
            m_frames.push_back({lines[k].counter, lines[k].timeUs, lines[k].celsius, nullptr});
        run = 0;
        if (i == lines.size())
            break;
        uint8_t* pixels = m_pixels.data() + image++ * frameBytes;
        if (!ReadFrame(InDir(dir, lines[i].frame), info, pixels, error)) {
            Release();
            return false;
        }
        m_frames.push_back({lines[i].counter, lines[i].timeUs, lines[i].celsius, pixels, skipped});
    }

    m_info = info;
    const ReplayFrame& first = m_frames.front();
    const ReplayFrame& last = m_frames.back();
    m_periodNs = std::max<int64_t>(1, std::llround(1e9 / info.frameRate));
    m_periodUs = std::max<int64_t>(1, std::llround(1e6 / info.frameRate));
    m_counterSpan =
        (uint64_t{last.counter} + kCounterModulus - first.counter) % kCounterModulus + 1;
    m_timeSpanUs = (last.timeUs >= first.timeUs ? last.timeUs - first.timeUs : 0) +
                   static_cast<uint64_t>(m_periodUs);
    return true;
}

void SimReplay::Release() {
    m_frames.clear();
    m_frames.shrink_to_fit();
    m_pixels.clear();
    m_pixels.shrink_to_fit();
    m_info = RecordingInfo();
}

uint32_t SimReplay::Counter(size_t index, uint64_t pass) const {
    const auto offset = static_cast<uint64_t>(static_cast<unsigned __int128>(pass) * m_counterSpan %
                                              kCounterModulus);
    return static_cast<uint32_t>((m_frames[index].counter - 1 + offset) % kCounterModulus + 1);
}

uint64_t SimReplay::TimeUs(size_t index, uint64_t pass) const {
    return m_frames[index].timeUs + pass * m_timeSpanUs;
}

int64_t SimReplay::GapAfterNs(size_t index) const {
    if (index + 1 >= m_frames.size())
        return m_periodUs * 1000;
    const uint64_t now = m_frames[index].timeUs, next = m_frames[index + 1].timeUs;
    return next > now ? static_cast<int64_t>(next - now) * 1000 : 0;
}

} // namespace Vyx::sim
