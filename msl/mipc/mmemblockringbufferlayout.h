#pragma once
// Byte layout of the block ring buffers, shared with client processes written in any
// language. Offsets are from the buffer's base (the first byte of its segment); every field
// is little-endian. Nothing here may change without breaking every client.
//
// 64-bit variant (MMemBlockRingBuffer):
//   0  u8   sizeof_size_t        8, written by the creator, checked by readers
//   1  u8   active               1 after creation, 0 once the writer withdrew the buffer
//   2  6 bytes reserved
//   8  u64  block_size
//   16 u64  num_entries
//   24 u64  write_index          0-based index of the block most recently handed out
//   32 u64  locked_array_offset  offset of the lock array from the base
//   40 24 bytes reserved
//   64 blocks                    block i at 64 + i * block_size
//   locked_array_offset: num_entries u64 lock words, 0 free, non-zero in use; the offset is
//   rounded up so that base + offset is a multiple of 8.
//
// 32-bit variant (MMemBlockRingBuffer32): the same fields as u32 at 4, 8, 12, 16 (the
// reserved bytes are 2..3 and 20..31), blocks from offset 32, u32 lock words, base + offset a
// multiple of 4.
//
// Block numbers seen by users are 1-based (block i has number i + 1); 0 means none.

#include <cstddef>
#include <cstdint>

namespace msl::ringbuffer {

struct Header64 {
    uint8_t sizeof_size_t;
    uint8_t active;
    uint8_t reserved1[6];
    uint64_t block_size;
    uint64_t num_entries;
    uint64_t write_index;
    uint64_t locked_array_offset;
    uint8_t reserved2[24];
};

struct Header32 {
    uint8_t sizeof_size_t;
    uint8_t active;
    uint8_t reserved1[2];
    uint32_t block_size;
    uint32_t num_entries;
    uint32_t write_index;
    uint32_t locked_array_offset;
    uint8_t reserved2[12];
};

static_assert(sizeof(Header64) == 64);
static_assert(offsetof(Header64, sizeof_size_t) == 0);
static_assert(offsetof(Header64, active) == 1);
static_assert(offsetof(Header64, block_size) == 8);
static_assert(offsetof(Header64, num_entries) == 16);
static_assert(offsetof(Header64, write_index) == 24);
static_assert(offsetof(Header64, locked_array_offset) == 32);

static_assert(sizeof(Header32) == 32);
static_assert(offsetof(Header32, sizeof_size_t) == 0);
static_assert(offsetof(Header32, active) == 1);
static_assert(offsetof(Header32, block_size) == 4);
static_assert(offsetof(Header32, num_entries) == 8);
static_assert(offsetof(Header32, write_index) == 12);
static_assert(offsetof(Header32, locked_array_offset) == 16);

// What tells the two variants apart in a segment: the first byte.
inline constexpr uint8_t kSizeofSizeT64 = 8;
inline constexpr uint8_t kSizeofSizeT32 = 4;

// Header size, which is also the offset of block 0.
inline constexpr size_t kHeaderSize64 = sizeof(Header64);
inline constexpr size_t kHeaderSize32 = sizeof(Header32);

// Width and alignment of one lock word.
inline constexpr size_t kLockWord64 = sizeof(uint64_t);
inline constexpr size_t kLockWord32 = sizeof(uint32_t);

// Worst-case bytes lost to aligning the lock array, reserved by CalcMaxEntries.
inline constexpr size_t kOverhead64 = kHeaderSize64 + kLockWord64 - 1; // 71
inline constexpr size_t kOverhead32 = kHeaderSize32 + kLockWord32 - 1; // 35

static_assert(kOverhead64 == 71 && kOverhead32 == 35);

} // namespace msl::ringbuffer
