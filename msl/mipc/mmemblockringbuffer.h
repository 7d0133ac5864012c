#pragma once
// Block ring buffers: a fixed number of equally sized blocks with one lock word each, laid out
// in one memory area (normally a shared-memory segment, see msharedmem.h) whose byte layout
// is in mmemblockringbufferlayout.h. One writer takes a free block, fills it and publishes its
// number elsewhere (the measurand line); readers in other processes read the block by number
// and release it. No lock besides the lock words; the writer never waits.
//
// Two variants with the same operations: MMemBlockRingBuffer_* (64-bit fields and lock words)
// and MMemBlockRingBuffer32_* (32-bit). `base` is the buffer's first byte and must be aligned
// to the variant's word size; a segment's start always is. Block numbers are 1-based, 0 means
// none. Only Link and Resize report into the error trace; the other operations answer null or
// 0 for a bad number, a full buffer or an inactive buffer.

#include <cstddef>
#include <cstdint>

// --- 64-bit variant -------------------------------------------------------------------------

// Blocks of `block_size` bytes that fit a segment of `size` bytes, always reserving the
// worst-case alignment of the lock array; 0 when `size` is below 71 or is (size_t)-1 (the
// failure result of MSharedMem_GetSize).
size_t MMemBlockRingBuffer_CalcMaxEntries(size_t size, size_t block_size);

// Writer: lays out a buffer of `num_entries` free blocks and makes it active; returns 1. Does
// not check the area's size (use CalcMaxEntries). Over an existing buffer it resets the header
// and lock words and leaves the block contents.
int MMemBlockRingBuffer_Create(void* base, size_t num_entries, size_t block_size);

// Reader: 1 when the buffer another process created is usable here, else 0 (error trace).
int MMemBlockRingBuffer_Link(void* base);

// Writer: withdraws the buffer before unlinking the segment; no block is handed out after it.
void MMemBlockRingBuffer_Deactivate(void* base);

// Writer: a free block, marked in use, or null when the buffer is inactive, has no blocks or
// every block is in use. The search starts at the block handed out last.
void* MMemBlockRingBuffer_GetWritePointer(void* base);

// Writer: GetWritePointer for a buffer in a segment of `segment_size` bytes whose blocks the
// writer fills with `block_size` bytes. The header is read once and trusted only when it
// describes such blocks and their lock words inside the segment (another process may have
// written over it); null otherwise, as FitsSegment tells.
void* MMemBlockRingBuffer_GetWritePointerWithin(void* base, size_t segment_size, size_t block_size);
int MMemBlockRingBuffer_FitsSegment(void* base, size_t segment_size, size_t block_size);

// Reader: the address of block `number` when it is in range and in use, else null.
void* MMemBlockRingBuffer_GetReadPointer(void* base, size_t number);

// Frees block `number`: 1, or 0 when the number is out of range or the block is already free.
int MMemBlockRingBuffer_Release(void* base, size_t number);

// The number of the block that contains `address`, 0 when it lies in no block.
size_t MMemBlockRingBuffer_GetIndex(void* base, const void* address);

// 1 when `number` is in range and its block is in use, else 0.
int MMemBlockRingBuffer_IsUsed(void* base, size_t number);

size_t MMemBlockRingBuffer_GetNumEntries(void* base);
size_t MMemBlockRingBuffer_GetBlockSize(void* base);
size_t MMemBlockRingBuffer_GetNumUsed(void* base);
size_t MMemBlockRingBuffer_GetNumFree(void* base);

// Writer, while no block is in transit: frees every block and restarts the search at block 1.
void MMemBlockRingBuffer_Reset(void* base);

// Writer, while no block is in transit: changes the number of blocks, keeping their size.
// Shrinking fails (0) while a block at or above the new count is in use. Growing needs room
// for the larger layout, which is not checked.
int MMemBlockRingBuffer_Resize(void* base, size_t num_entries);

// --- 32-bit variant -------------------------------------------------------------------------
// The same operations on the 32-bit layout. CalcMaxEntries takes the segment size as
// MSharedMem_GetSize returns it: 0 below 35 bytes and for -1 (64- or 32-bit); a segment
// larger than the 32-bit layout can address is used up to that limit.

uint32_t MMemBlockRingBuffer32_CalcMaxEntries(size_t size, uint32_t block_size);
int MMemBlockRingBuffer32_Create(void* base, uint32_t num_entries, uint32_t block_size);
int MMemBlockRingBuffer32_Link(void* base);
void MMemBlockRingBuffer32_Deactivate(void* base);
void* MMemBlockRingBuffer32_GetWritePointer(void* base);
void* MMemBlockRingBuffer32_GetWritePointerWithin(void* base, size_t segment_size,
                                                  uint32_t block_size);
int MMemBlockRingBuffer32_FitsSegment(void* base, size_t segment_size, uint32_t block_size);
void* MMemBlockRingBuffer32_GetReadPointer(void* base, uint32_t number);
int MMemBlockRingBuffer32_Release(void* base, uint32_t number);
uint32_t MMemBlockRingBuffer32_GetIndex(void* base, const void* address);
int MMemBlockRingBuffer32_IsUsed(void* base, uint32_t number);
uint32_t MMemBlockRingBuffer32_GetNumEntries(void* base);
uint32_t MMemBlockRingBuffer32_GetBlockSize(void* base);
uint32_t MMemBlockRingBuffer32_GetNumUsed(void* base);
uint32_t MMemBlockRingBuffer32_GetNumFree(void* base);
void MMemBlockRingBuffer32_Reset(void* base);
int MMemBlockRingBuffer32_Resize(void* base, uint32_t num_entries);
