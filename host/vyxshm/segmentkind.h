#pragma once
// What a segment holds, told from its bytes alone: a block ring buffer of either width (an
// image FIFO), a named event (the preview memory's "<name>.event"), a line FIFO (the
// measurand FIFO), or something else. Every layout is checked against the segment's size
// before anything behind its header is read, so a damaged or foreign segment is reported,
// never read out of bounds.

#include <cstddef>
#include <cstdint>
#include <string>

enum class SegmentKind { Ring64, Ring32, Event, LineFifo, Unknown };

// "ring64", "ring32", "event", "linefifo", "unknown": the words `list` prints.
const char* SegmentKind_Name(SegmentKind kind);

// What the header of a usable ring buffer says.
struct RingInfo {
    int variant = 0; // 64 or 32
    unsigned active = 0;
    uint64_t blockSize = 0;
    uint64_t blocks = 0;
    uint64_t writeIndex = 0;
    uint64_t lockOffset = 0;
};

// Reads and checks a ring buffer header against the segment; on failure `why` says what is
// wrong.
bool SegmentKind_InspectRing(const uint8_t* base, size_t size, RingInfo* ring, std::string* why);

// The kind, and for a ring buffer its header, for a line FIFO its line length and waiting
// lines, for an event its state word.
struct SegmentDetails {
    SegmentKind kind = SegmentKind::Unknown;
    RingInfo ring;
    uint64_t lineLength = 0;
    uint64_t lines = 0;
    uint32_t eventState = 0;
};

SegmentDetails SegmentKind_Classify(const uint8_t* base, size_t size);
