#pragma once
// Records that the machine interface hands to the server.

#include <cstdint>
#include <map>
#include <set>
#include <string>

// One axis the machine offers.
struct MMachAxis {
    // Flag bits.
    static constexpr uint32_t kByte = 1; // a channel of access "B"
    static constexpr uint32_t kReadable = 2;
    static constexpr uint32_t kWritable = 4;
    static constexpr uint32_t kUnavailable = 16; // not available at the moment

    std::string name;
    uint32_t flags = 0;
    double minimum = 0.0;
    double maximum = 0.0;
    double accuracy = 0.0;
    double maxSpeed = 0.0;
    double maxAcceleration = 0.0;
    double step = 0.0;
    std::set<std::string> names; // cleared whenever the axis is (re)registered
    uint64_t index = 0;          // position of the axis's value in the machine's value array
};

// One component that "send" and "receive" accept; its name is the key of the table.
struct MMachComponent {
    std::string version;
    uint32_t flags = 0;
};

using MMachComponentTable = std::map<std::string, MMachComponent>;
using MMachComponentEntry = MMachComponentTable::value_type;

// Geometry of the images of the current probesystem; all 0 when it delivers none.
struct MMachImageInfo {
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t bytesPerPixel = 0;
};

// What kind of optical device the active probesystem is.
struct MMachProbesystemType {
    static constexpr uint32_t kUnknown = 0;
    static constexpr uint32_t kLineCamera = 2; // one image row
    static constexpr uint32_t kAreaCamera = 3;

    uint32_t kind = kUnknown;
    uint32_t width = 0;  // pixels
    uint32_t height = 0; // pixels, area cameras only
    double widthMm = 0.0;
    double heightMm = 0.0; // area cameras only
};

// Where the preview window goes on the screen.
struct MMachPreviewPlacement {
    int32_t left = 0;
    int32_t top = 0;
    int32_t width = 0;
    int32_t height = 0;
};
