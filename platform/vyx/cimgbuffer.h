#pragma once
// The image record the camera library hands to every registered stream callback.

#include "platform/vyx/vyxapi.h"

#include <cstdint>
#include <map>
#include <utility>

namespace Vyx {

// Units of CImgBuffer::timeStampKind; any other value means ticks of the
// high-resolution performance counter.
enum : int32_t {
    TimeStamp_Microseconds = 1,
    TimeStamp_Nanoseconds = 2,
};

// Bits of the flags argument of an ImgStreamCallback.
enum : uint32_t {
    ImgFlag_FramesLost = 0x1, // exposures before this frame were not delivered (counter jumped)
    ImgFlag_NoPixels = 0x2,   // the frame carries no pixel data
    ImgFlag_AfterStall = 0x4, // the camera delivered nothing for a while before this frame
};

// Key of the camera temperature in CImgBuffer::attributes.
constexpr int32_t ImgAttr_Temperature = 0;

// One attribute of a frame: first is the sensor's raw reading, second the value
// in its physical unit (degrees Celsius for the temperature).
using ImgAttribute = std::pair<double, double>;

// A frame as the camera delivers it: rowPitch x rows pixels, of which the clip
// rectangle is the image. The simulated camera delivers the whole sensor frame and
// the clip rectangle in it; a GenICam camera reads out its region only, so there
// the frame is the region (offsets 0, clip size the frame's).
struct VYX_API CImgBuffer {
    uint64_t rowPitch = 0; // pixels from one row to the next
    uint64_t rows = 0;     // rows of the frame
    uint64_t offsetX = 0;  // clip rectangle, in pixels of the frame
    uint64_t offsetY = 0;
    uint64_t clipWidth = 0;          // 0: the whole row
    uint64_t clipHeight = 0;         // 0: all rows
    uint64_t bytesPerPixel = 0;      // bytes one pixel takes in memory
    const uint8_t* pixels = nullptr; // null when the camera delivered no image
    int32_t timeStampKind = TimeStamp_Nanoseconds;
    uint64_t timeStamp = 0;    // in the unit of timeStampKind, on the monotonic clock
    uint32_t frameCounter = 0; // counts from 1 since Grab; 0 marks a broken frame
    std::map<int32_t, ImgAttribute> attributes; // ImgAttr_Temperature when the camera has one
    uint32_t pixelFormat = 0;                   // pixel format code, as GetImageInfo reports it
    uint32_t bitsPerPixel = 0;                  // significant bits of one pixel
};

// Called on the library's acquisition thread for every frame. The record stays
// unchanged until 16 further frames were delivered; the pixel memory stays
// readable until Uninitialize. Receivers must not keep the thread long: the
// camera delivers the next frame only when every receiver has returned.
using ImgStreamCallback = void (*)(void* context, const CImgBuffer* image, uint32_t flags);

} // namespace Vyx
