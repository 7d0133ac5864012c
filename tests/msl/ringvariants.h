#pragma once
// Both ring-buffer layouts behind one face, so that every test runs on each of them.

#include "msl/mipc/mmemblockringbuffer.h"

#include <cstddef>
#include <cstdint>

namespace vyx::test {

struct Variant {
    const char* name;
    size_t header;
    size_t word;
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
    size_t (*free)(void*);
    void (*reset)(void*);
    int (*resize)(void*, size_t);
};

inline const Variant kWide = {
    "MMemBlockRingBuffer",
    64,
    8,
    MMemBlockRingBuffer_CalcMaxEntries,
    [](void* b, size_t n, size_t s) { return MMemBlockRingBuffer_Create(b, n, s); },
    MMemBlockRingBuffer_Link,
    MMemBlockRingBuffer_Deactivate,
    MMemBlockRingBuffer_GetWritePointer,
    MMemBlockRingBuffer_GetReadPointer,
    MMemBlockRingBuffer_Release,
    MMemBlockRingBuffer_GetIndex,
    MMemBlockRingBuffer_IsUsed,
    MMemBlockRingBuffer_GetNumUsed,
    MMemBlockRingBuffer_GetNumFree,
    MMemBlockRingBuffer_Reset,
    MMemBlockRingBuffer_Resize,
};

inline const Variant kNarrow = {
    "MMemBlockRingBuffer32",
    32,
    4,
    [](size_t size, size_t s) -> size_t {
        return MMemBlockRingBuffer32_CalcMaxEntries(size, uint32_t(s));
    },
    [](void* b, size_t n, size_t s) {
        return MMemBlockRingBuffer32_Create(b, uint32_t(n), uint32_t(s));
    },
    MMemBlockRingBuffer32_Link,
    MMemBlockRingBuffer32_Deactivate,
    MMemBlockRingBuffer32_GetWritePointer,
    [](void* b, size_t n) { return MMemBlockRingBuffer32_GetReadPointer(b, uint32_t(n)); },
    [](void* b, size_t n) { return MMemBlockRingBuffer32_Release(b, uint32_t(n)); },
    [](void* b, const void* a) -> size_t { return MMemBlockRingBuffer32_GetIndex(b, a); },
    [](void* b, size_t n) { return MMemBlockRingBuffer32_IsUsed(b, uint32_t(n)); },
    [](void* b) -> size_t { return MMemBlockRingBuffer32_GetNumUsed(b); },
    [](void* b) -> size_t { return MMemBlockRingBuffer32_GetNumFree(b); },
    MMemBlockRingBuffer32_Reset,
    [](void* b, size_t n) { return MMemBlockRingBuffer32_Resize(b, uint32_t(n)); },
};

} // namespace vyx::test
