#include "host/vyxshm/segmentkind.h"

#include "msl/mipc/mmemblockringbufferlayout.h"
#include "msl/mipc/mmemlinefifo.h"
#include "msl/mipc/mnamedevent.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

namespace {

namespace rb = msl::ringbuffer;

// A writer's or reader's address of slot 0 in a line FIFO: 0, or 64 bytes into a mapping
// (mappings start on a page) within the user half of the address space.
bool IsSlotAddress(uint64_t address) {
    return address == 0 ||
           (address % 4096 == sizeof(msl::linefifo::Header) && address < (1ull << 47));
}

// The line FIFO has no magic of its own; its header must be self-consistent in every field,
// with the reserved bytes untouched, the ring inside the segment and both addresses
// page-relative as a mapping makes them.
bool IsLineFifo(const uint8_t* base, size_t size, uint64_t* lineLength, uint64_t* lines) {
    msl::linefifo::Header h;
    if (size < sizeof h)
        return false;
    std::memcpy(&h, base, sizeof h);
    for (uint8_t byte : h.reserved)
        if (byte != 0)
            return false;
    if (!IsSlotAddress(h.data_start) || !IsSlotAddress(h.reader) || h.line_length == 0 ||
        h.num_slots < 2 || h.num_slots > (size - sizeof h) / h.line_length ||
        h.write_index >= h.num_slots || h.read_index >= h.num_slots)
        return false;
    *lineLength = h.line_length;
    *lines = h.write_index >= h.read_index ? h.write_index - h.read_index
                                           : h.write_index + h.num_slots - h.read_index;
    return true;
}

} // namespace

const char* SegmentKind_Name(SegmentKind kind) {
    switch (kind) {
    case SegmentKind::Ring64:
        return "ring64";
    case SegmentKind::Ring32:
        return "ring32";
    case SegmentKind::Event:
        return "event";
    case SegmentKind::LineFifo:
        return "linefifo";
    case SegmentKind::Unknown:
        break;
    }
    return "unknown";
}

bool SegmentKind_InspectRing(const uint8_t* base, size_t size, RingInfo* ring, std::string* why) {
    char text[160];
    if (base == nullptr || size < rb::kHeaderSize32 ||
        (base[0] == rb::kSizeofSizeT64 && size < rb::kHeaderSize64)) {
        *why = "the segment is smaller than a ring buffer header";
        return false;
    }
    size_t header, word;
    if (base[0] == rb::kSizeofSizeT64) {
        rb::Header64 h;
        std::memcpy(&h, base, sizeof h);
        *ring = {64, h.active, h.block_size, h.num_entries, h.write_index, h.locked_array_offset};
        header = rb::kHeaderSize64;
        word = rb::kLockWord64;
    } else if (base[0] == rb::kSizeofSizeT32) {
        rb::Header32 h;
        std::memcpy(&h, base, sizeof h);
        *ring = {32, h.active, h.block_size, h.num_entries, h.write_index, h.locked_array_offset};
        header = rb::kHeaderSize32;
        word = rb::kLockWord32;
    } else {
        std::snprintf(text, sizeof text, "its first byte is %u, not 8 or 4", unsigned(base[0]));
        *why = text;
        return false;
    }
    if (ring->active > 1) {
        std::snprintf(text, sizeof text, "its active byte is %u", ring->active);
        *why = text;
        return false;
    }
    if (ring->blockSize == 0 || ring->blocks == 0) {
        *why = "it has no blocks";
        return false;
    }
    if (ring->blocks > (size - header) / ring->blockSize) {
        std::snprintf(text, sizeof text,
                      "%" PRIu64 " blocks of %" PRIu64 " bytes do not fit %zu bytes", ring->blocks,
                      ring->blockSize, size);
        *why = text;
        return false;
    }
    uint64_t blocksEnd = header + ring->blocks * ring->blockSize;
    if (ring->lockOffset < blocksEnd || ring->lockOffset - blocksEnd >= word ||
        ring->lockOffset % word != 0) {
        std::snprintf(text, sizeof text,
                      "its lock array offset %" PRIu64 " does not follow the blocks (end %" PRIu64
                      ")",
                      ring->lockOffset, blocksEnd);
        *why = text;
        return false;
    }
    if (ring->blocks > (size - ring->lockOffset) / word) {
        std::snprintf(text, sizeof text, "its lock array reaches beyond the segment's %zu bytes",
                      size);
        *why = text;
        return false;
    }
    return true;
}

SegmentDetails SegmentKind_Classify(const uint8_t* base, size_t size) {
    SegmentDetails details;
    if (base == nullptr)
        return details;
    std::string why;
    if (SegmentKind_InspectRing(base, size, &details.ring, &why)) {
        details.kind = details.ring.variant == 64 ? SegmentKind::Ring64 : SegmentKind::Ring32;
        return details;
    }
    uint32_t words[2];
    if (size == kMNamedEventSize) {
        std::memcpy(words, base, sizeof words);
        if (words[0] == kMNamedEventMagic && words[1] <= 1) {
            details.kind = SegmentKind::Event;
            details.eventState = words[1];
            return details;
        }
    }
    if (IsLineFifo(base, size, &details.lineLength, &details.lines))
        details.kind = SegmentKind::LineFifo;
    return details;
}
