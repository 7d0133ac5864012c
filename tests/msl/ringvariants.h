#pragma once
// Both ring-buffer layouts behind one face, so that every test runs on each of them.

#include "msl/mipc/mmemblockringbuffer.h"

#include <cstddef>
#include <cstdint>

namespace vyx::test {

struct Variant {
    const char* name;
    size_t word;   // size of the header fields and lock words
    size_t header; // offset of the first block
    size_t (*calc)(size_t, size_t);
    int (*create)(void*, size_t, size_t);
    int (*link)(void*);
    void (*deactivate)(void*);
    void* (*write)(void*);
    void* (*read)(void*, size_t);
    int (*release)(void*, size_t);
    size_t (*index)(void*, const void*);
    int (*isUsed)(void*, size_t);
    size_t (*used)(void*);
    void* (*writeWithin)(void*, size_t, size_t);
    int (*fits)(void*, size_t, size_t);
};

// The functions of prefix P, whose counts and numbers have the type T.
#define VYX_RING_VARIANT(P, T)                                                                     \
    {                                                                                              \
#P, sizeof(T), 8 * sizeof(T),                                                             \
            [](size_t size, size_t s) -> size_t { return P##_CalcMaxEntries(size, T(s)); },       \
            [](void* b, size_t n, size_t s) { return P##_Create(b, T(n), T(s)); }, P##_Link,      \
            P##_Deactivate, P##_GetWritePointer,                                                  \
            [](void* b, size_t n) { return P##_GetReadPointer(b, T(n)); },                        \
            [](void* b, size_t n) { return P##_Release(b, T(n)); },                               \
            [](void* b, const void* a) -> size_t { return P##_GetIndex(b, a); },                  \
            [](void* b, size_t n) { return P##_IsUsed(b, T(n)); },                                \
            [](void* b) -> size_t { return P##_GetNumUsed(b); },                                  \
            [](void* b, size_t z, size_t s) { return P##_GetWritePointerWithin(b, z, T(s)); },    \
            [](void* b, size_t z, size_t s) { return P##_FitsSegment(b, z, T(s)); },        \
    }

inline const Variant kWide = VYX_RING_VARIANT(MMemBlockRingBuffer, size_t);
inline const Variant kNarrow = VYX_RING_VARIANT(MMemBlockRingBuffer32, uint32_t);

#undef VYX_RING_VARIANT

} // namespace vyx::test
