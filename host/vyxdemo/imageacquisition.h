#pragma once
// The measurement road on the camera's thread, as the camera machine will run it: every frame
// is copied, clipped, into a free block of an image FIFO (a block ring buffer in a named
// shared-memory segment) and one measurand line goes into a line FIFO. The demo also plays
// the client: it takes the lines as they come, checks each image in its block against the
// simulated camera's test pattern and releases the block, keeping the newest few for vyxshm.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class CSensorVyxCamera;

// The named segment with its ring buffer. Removed again at destruction unless kept; a kept
// segment outlives the process (until it is removed or the machine reboots).
class ImageFifo {
public:
    ImageFifo() = default;
    ~ImageFifo();
    ImageFifo(const ImageFifo&) = delete;
    ImageFifo& operator=(const ImageFifo&) = delete;

    // Creates the segment `name` for `blocks` blocks of `blockSize` bytes; refuses a name that
    // already exists, so that nobody's segment is overwritten.
    bool Create(const std::string& name, size_t blocks, size_t blockSize);
    void Keep() { keep = true; }

    void* Base() const { return base; }
    size_t SegmentSize() const { return segmentSize; }

private:
    void* base = nullptr;
    size_t segmentSize = 0;
    bool keep = false;
};

// One measurand line: what the camera thread writes per frame.
struct MeasurandLine {
    double counter = 0; // the camera's frame counter
    double time = 0;    // the frame's time stamp in seconds
    double block = 0;   // 1-based image FIFO block holding the image, 0: none
};

struct AcquisitionResult {
    std::vector<MeasurandLine> lines;
    std::vector<size_t> heldBlocks; // blocks left in use, oldest first
    uint32_t imagesChecked = 0;     // images compared with the test pattern
    uint32_t imagesWrong = 0;       // ... that differed from it
    uint32_t noFreeBlock = 0;       // frames that found the image FIFO full
    uint32_t withoutImage = 0;      // frames the camera delivered without pixels
    bool lineFifoFull = false;      // a line could not be published
    bool timedOut = false;          // fewer lines than frames asked for within the time-out
};

// Registers the receiver on the camera sensor, starts the acquisition, collects `frames`
// lines (at most `holdBlocks` images stay in use meanwhile), stops and removes the receiver.
// False, with its message, when the camera cannot start or stop.
bool AcquireFrames(CSensorVyxCamera& camera, ImageFifo& fifo, uint32_t frames, double frameRate,
                   size_t holdBlocks, AcquisitionResult& result);
