#pragma once
// An image FIFO the machine created: a named shared-memory segment holding a block ring
// buffer whose blocks each take one image. Kept in the machine's map under its name.

#include "lintel/server/machine/mmachrecords.h"

#include <cstddef>
#include <cstdint>
#include <string>

struct MMachImagefifo {
    MMachImageInfo imageInfo;     // the image geometry the blocks were sized for
    void* ringBuffer64 = nullptr; // segment base when it holds the 64-bit ring buffer
    void* ringBuffer32 = nullptr; // segment base when it holds the 32-bit ring buffer
    std::string name;             // also the segment's name

    // Bytes of one block for images of this geometry (0: the probesystem has no images).
    static uint64_t SlotSize(const MMachImageInfo& info) {
        return uint64_t{info.width} * info.height * info.bytesPerPixel;
    }
    // A FIFO of `size` bytes needs the 64-bit layout above 2^31 - 1 bytes; `always64` asks for
    // it anyway.
    static bool Is64Bit(uint64_t size, bool always64) { return size > 0x7FFFFFFF || always64; }
    // Lays the record's ring buffer out anew, in place, for blocks of `slotSize` bytes; the
    // new number of blocks, 0 on failure (error trace).
    static size_t Reset(MMachImagefifo& record, size_t slotSize);
};
