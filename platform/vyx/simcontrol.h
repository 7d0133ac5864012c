#pragma once
// Test and demonstration interface of the simulated camera: modes, fault
// injection, frames on demand and a view of the camera's inner state. A real
// camera library has no such interface; only tests, tools and benchmarks use it.
//
// Frame numbers ("exposures") count from 1 at every Grab and include the
// exposures that were dropped; a frame's counter equals its exposure number
// unless a test emitted explicit counters.
//
// Test pattern: the pixels of a frame are a moving pattern that depends on the
// frame and on the position in the full frame. For a frame with counter c
// (exposure number when c is 0) and the pixel at column x, row y of a frame
// with row pitch W: v = (y * W + x + c mod M) mod M, with M = 251 for 1, 3 and 4
// byte pixels, 1021 for 10-bit, 4093 for 12-bit and 65521 for other 2-byte
// pixels. A 2-byte pixel is v, little-endian; byte k of any other pixel is
// (v + 85 k) mod 256. PatternPixel computes it.

#include "platform/vyx/cimgbuffer.h"
#include "platform/vyx/vyxapi.h"

#include <cstdint>
#include <string>

namespace Vyx {

enum class SimMode {
    RealTime, // a frame every frame period (the default)
    FreeRun,  // frames as fast as the receivers take them
    Manual,   // a frame only when EmitFrame asks for one
};

enum class SimFault {
    Drop,        // the exposure is not delivered: the next counter jumps
    Broken,      // delivered without pixels and with counter 0
    CounterZero, // delivered with pixels but counter 0
    Stall,       // before the exposure, nothing for the given milliseconds
};

// Operations SetCallFailure can make fail.
enum class SimCall {
    Initialize,
    Register,
    Unregister,
    Grab,
    Freeze,
    GetImageInfo,
    GetImageMemoryCaps,
    GetPixelSize,
    GetClippingLimits,
    SetExposure,
    GetExposure,
    SetFrameRate,
    GetFrameRate,
    SetGain,
    GetGain,
    SetClippingRegion,
    SetSmartParam,
    GetSmartParam,
    SetScanningMode,
    SetDataTransferVolume,
    FlashSettings,
    SetLightIntensity,
    GetLightIntensity,
    SetTriggerMode,
    GetTriggerMode,
    GetCameraInfo,
    Count
};

// A frame exactly as a test wants it (manual mode).
struct VYX_API SimFrame {
    uint32_t counter = 1;   // 0: a broken or invalid frame
    bool pixels = true;     // false: no pixel data
    uint64_t timeStamp = 0; // 0: the camera's own time of that exposure
};

struct VYX_API SimStats {
    uint64_t exposures = 0; // exposures since Grab, dropped ones included
    uint64_t delivered = 0; // frames handed to the receivers since Grab
    uint64_t dropped = 0;
    uint64_t broken = 0;      // no pixels, counter 0
    uint64_t counterZero = 0; // pixels, counter 0
    uint64_t stalls = 0;
    uint32_t lastCounter = 0; // counter of the last delivered frame
    uint32_t receivers = 0;   // registered stream callbacks
};

struct VYX_API SimState {
    bool initialised = false;
    bool grabbing = false;
    SimMode mode = SimMode::RealTime;
    int32_t scanningMode = 0;
    int32_t transferVolume = 0;
    uint32_t flashCount = 0; // FlashSettings calls since the library was loaded
    std::string configFile;  // file(s) the configuration came from, ';'-separated
};

class VYX_API SimControl {
public:
    // GetInstance gives null while the camera is disconnected.
    static void SetConnected(bool connected);

    static void SetMode(SimMode mode);
    // Camera temperature carried by the following frames, in degrees Celsius.
    static void SetTemperature(double celsius);

    // Schedules count consecutive faults starting at exposure `exposure` (0: the
    // next one). For Stall, count is the length in milliseconds and the fault
    // hits once. False while the camera is not initialised.
    static bool InjectFault(SimFault fault, uint64_t exposure, uint32_t count);
    // Removes every scheduled fault, those of the configuration file included.
    static void ClearFaults();

    // Makes an operation fail (true) or work again (false).
    static void SetCallFailure(SimCall call, bool fail);

    // Manual mode, while grabbing: delivers the next exposure as the camera
    // would (scheduled faults apply; a stall only shifts the time stamp) and
    // returns when every receiver has had it. False when no frame could be
    // delivered (not grabbing, not manual mode, called from a callback).
    static bool EmitFrame();
    // Delivers exactly this frame; the camera's counter goes on after it.
    static bool EmitFrame(const SimFrame& frame);

    static SimStats GetStats();
    static SimState GetState();

    // Expected pixel value of the test pattern (bytes little-endian), for a frame
    // of the current pixel format and row pitch.
    static uint32_t PatternPixel(uint32_t counter, uint64_t x, uint64_t y);
};

} // namespace Vyx
