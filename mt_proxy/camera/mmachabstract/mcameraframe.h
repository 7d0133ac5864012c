#pragma once
// What the camera machine's image callbacks read from a frame.

#include "platform/vyx/cimgbuffer.h"

// The frame's time in seconds: microseconds, nanoseconds or ticks of the high-resolution
// counter, as the frame says.
double MCameraFrame_Time(const Vyx::CImgBuffer& image);

// The camera temperature the frame carries (attribute 0), 0 when it carries none.
double MCameraFrame_Temperature(const Vyx::CImgBuffer& image);

// A broken frame: no pixels and no frame counter.
inline bool MCameraFrame_IsBroken(const Vyx::CImgBuffer& image) {
    return image.pixels == nullptr && image.frameCounter == 0;
}
