#pragma once
// Line FIFO: a single-writer, single-reader FIFO of fixed-length lines in one memory area
// (process memory or a shared-memory segment; the layout below is the same in both and is
// shared with client processes). The camera machine writes one measurand line per image;
// the command that reads scan data takes the lines out. No lock: each index has one owner,
// who moves it only after a full barrier.
//
// Writer cycle: GetWritePointer, fill exactly GetLineLength bytes, IncWritePointer (0 means
// full: the line was not published and the slot is reused by the next attempt).
// Reader cycle: Link once, then GetReadPointer, copy the line, IncReadPointer.
//
// `base` must be 8-aligned. Creation and linking report into the error trace; the data
// operations answer null or 0 and never report.

#include <cstddef>
#include <cstdint>

// Writer: lays out a FIFO that holds up to `num_lines` lines of `line_length` bytes in an area
// of at least 64 + (num_lines + 1) * line_length bytes (not checked). 1 on success, 0 when the
// base is not 8-aligned.
int MMemLineFifo_Create(void* base, size_t num_lines, size_t line_length);

// Writer: the largest FIFO of lines of `line_length` bytes that fills `area_size` bytes. 1 on
// success, 0 for a zero line length or an area smaller than 64 + 2 * line_length bytes.
int MMemLineFifo_CreateBySize(void* base, size_t area_size, size_t line_length);

// Writer: gives the FIFO up; GetWritePointer answers null afterwards.
void MMemLineFifo_Close(void* base);

// Writer: the slot to fill next, or null once the writer has closed the FIFO.
void* MMemLineFifo_GetWritePointer(void* base);

// Writer: publishes the filled slot; 1, or 0 when the FIFO is full (nothing changes).
int MMemLineFifo_IncWritePointer(void* base);

// Reader: makes the caller the FIFO's only reader; 1, or 0 when another reader is linked.
int MMemLineFifo_Link(void* base);
void MMemLineFifo_Unlink(void* base);

// Reader: the oldest waiting line, or null when no reader is linked or the FIFO is empty.
void* MMemLineFifo_GetReadPointer(void* base);

// Reader: drops the oldest waiting line after it was copied; nothing when the FIFO is empty.
void MMemLineFifo_IncReadPointer(void* base);

// Lines waiting, and lines that can still be published.
size_t MMemLineFifo_GetNumLines(void* base);
size_t MMemLineFifo_GetNumFree(void* base);

// Reader: discards every waiting line; returns the new read index.
size_t MMemLineFifo_Flush(void* base);

size_t MMemLineFifo_GetLineLength(void* base);
int MMemLineFifo_HasWriter(void* base);
int MMemLineFifo_HasReader(void* base);

namespace msl::linefifo {

// Byte layout, little-endian, offsets from the base.
struct Header {
    uint64_t data_start;  // 0: writer's address of slot 0 while it owns the FIFO, else 0
    uint64_t write_index; // 8: slot the writer fills next
    uint64_t reader;      // 16: reader's address of slot 0 while a reader is linked, else 0
    uint64_t read_index;  // 24: slot the reader reads next
    uint64_t line_length; // 32: bytes per line
    uint64_t num_slots;   // 40: lines requested at creation + 1; one slot always stays unused
    uint8_t reserved[16]; // 48
};                        // 64: slot i at 64 + i * line_length

static_assert(sizeof(Header) == 64);
static_assert(offsetof(Header, write_index) == 8);
static_assert(offsetof(Header, reader) == 16);
static_assert(offsetof(Header, read_index) == 24);
static_assert(offsetof(Header, line_length) == 32);
static_assert(offsetof(Header, num_slots) == 40);

inline constexpr size_t kHeaderSize = sizeof(Header);

} // namespace msl::linefifo
