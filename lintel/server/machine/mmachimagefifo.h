#pragma once
// An image FIFO the machine created: a named shared-memory segment holding a block ring
// buffer whose blocks each take one image. Kept in the machine's map under its name.

#include "lintel/server/machine/mmachrecords.h"

#include <string>

struct MMachImagefifo {
    MMachImageInfo imageInfo;     // the image geometry the blocks were sized for
    void* ringBuffer64 = nullptr; // segment base when it holds the 64-bit ring buffer
    void* ringBuffer32 = nullptr; // segment base when it holds the 32-bit ring buffer
    std::string name;             // also the segment's name
};
