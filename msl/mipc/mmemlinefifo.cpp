#include "msl/mipc/mmemlinefifo.h"

#include "platform/trace/merrtrace.h"

#include <atomic>
#include <cstring>

namespace {

using msl::linefifo::Header;
using msl::linefifo::kHeaderSize;

constexpr size_t kAlign = sizeof(uint64_t);

// Fields that only change at creation or belong to their reader of record are read relaxed;
// the two indexes carry the hand-over between writer and reader.
uint64_t Relaxed(uint64_t& field) {
    return std::atomic_ref<uint64_t>(field).load(std::memory_order_relaxed);
}

uint64_t Acquire(uint64_t& field) {
    return std::atomic_ref<uint64_t>(field).load(std::memory_order_acquire);
}

void StoreRelaxed(uint64_t& field, uint64_t value) {
    std::atomic_ref<uint64_t>(field).store(value, std::memory_order_relaxed);
}

void StoreRelease(uint64_t& field, uint64_t value) {
    std::atomic_ref<uint64_t>(field).store(value, std::memory_order_release);
}

Header& At(void* base) {
    return *static_cast<Header*>(base);
}

uint8_t* Slot(void* base, uint64_t index) {
    return static_cast<uint8_t*>(base) + kHeaderSize + index * Relaxed(At(base).line_length);
}

uint64_t Next(Header& h, uint64_t index) {
    return index + 1 < Relaxed(h.num_slots) ? index + 1 : 0;
}

bool Aligned(const void* address) {
    return reinterpret_cast<uintptr_t>(address) % kAlign == 0;
}

uint64_t FirstSlotAddress(void* base) {
    return reinterpret_cast<uintptr_t>(static_cast<uint8_t*>(base) + kHeaderSize);
}

// The two alignment checks of Create and Link, with the caller's name in the messages.
bool CheckAlignment(void* base, const char* who) {
    auto* bytes = static_cast<uint8_t*>(base);
    if (!Aligned(bytes + kHeaderSize)) {
        MERRTRACE("%s(): Start address of data (%p) is not aligned to %zu", who,
                  static_cast<void*>(bytes + kHeaderSize), kAlign);
        return false;
    }
    if (!Aligned(bytes + offsetof(Header, write_index))) {
        MERRTRACE("%s(): Address of write offset (%p) is not aligned to %zu", who,
                  static_cast<void*>(bytes + offsetof(Header, write_index)), kAlign);
        return false;
    }
    return true;
}

} // namespace

int MMemLineFifo_Create(void* base, size_t num_lines, size_t line_length) {
    if (!CheckAlignment(base, "MMemLineFifo_Create")) {
        // The fields cannot be used atomically here: only mark the area as not owned.
        const uint64_t none = 0;
        std::memcpy(base, &none, sizeof none);
        return 0;
    }
    Header& h = At(base);
    StoreRelaxed(h.line_length, line_length);
    StoreRelaxed(h.write_index, 0);
    StoreRelaxed(h.num_slots, num_lines + 1);
    StoreRelaxed(h.reader, 0);
    StoreRelaxed(h.read_index, 0);
    // Release: whoever sees the writer's mark also sees the fields above.
    StoreRelease(h.data_start, FirstSlotAddress(base));
    return 1;
}

int MMemLineFifo_CreateBySize(void* base, size_t area_size, size_t line_length) {
    if (line_length == 0) {
        MERRTRACE("MMemLineFifo_CreateBySize(): line length must not be 0");
        return 0;
    }
    if (area_size >= kHeaderSize) {
        size_t slots = (area_size - kHeaderSize) / line_length;
        if (slots > 1)
            return MMemLineFifo_Create(base, slots - 1, line_length);
    }
    MERRTRACE("MMemLineFifo_CreateBySize(): memory area too small: %zu bytes. Must be at least "
              "%zu bytes.",
              area_size, 2 * line_length + kHeaderSize);
    return 0;
}

void MMemLineFifo_Close(void* base) {
    StoreRelease(At(base).data_start, 0);
}

void* MMemLineFifo_GetWritePointer(void* base) {
    Header& h = At(base);
    if (Relaxed(h.data_start) == 0)
        return nullptr;
    return Slot(base, Relaxed(h.write_index));
}

int MMemLineFifo_IncWritePointer(void* base) {
    Header& h = At(base);
    uint64_t next = Next(h, Relaxed(h.write_index)); // the writer owns write_index
    // Acquire: pairs with the reader's release of read_index, so its copy of the slot we are
    // about to reuse is complete.
    if (next == Acquire(h.read_index))
        return 0;
    // Full barrier, then release: the line's bytes are visible before the index moves.
    std::atomic_thread_fence(std::memory_order_seq_cst);
    StoreRelease(h.write_index, next);
    return 1;
}

int MMemLineFifo_Link(void* base) {
    if (!Aligned(base)) {
        // Not usable atomically; report through the same checks as a linked reader would.
        CheckAlignment(base, "MMemLineFifo_Link");
        return 0;
    }
    Header& h = At(base);
    uint64_t none = 0;
    // Compare-exchange: of two readers linking at once, exactly one wins. Acquire: the
    // winner sees the fields the writer's Create published.
    if (!std::atomic_ref<uint64_t>(h.reader).compare_exchange_strong(
            none, FirstSlotAddress(base), std::memory_order_acquire, std::memory_order_relaxed)) {
        MERRTRACE("MMemLineFifo_Link(): Fifo not initialized or already has an exlusive reader");
        return 0;
    }
    if (!CheckAlignment(base, "MMemLineFifo_Link")) {
        StoreRelaxed(h.reader, 0);
        return 0;
    }
    return 1;
}

void MMemLineFifo_Unlink(void* base) {
    StoreRelease(At(base).reader, 0);
}

void* MMemLineFifo_GetReadPointer(void* base) {
    Header& h = At(base);
    if (Relaxed(h.reader) == 0)
        return nullptr;
    uint64_t read = Relaxed(h.read_index); // the reader owns read_index
    // Acquire: pairs with the writer's release of write_index, so the line's bytes are here.
    if (read == Acquire(h.write_index))
        return nullptr;
    return Slot(base, read);
}

void MMemLineFifo_IncReadPointer(void* base) {
    Header& h = At(base);
    uint64_t read = Relaxed(h.read_index);
    if (read == Acquire(h.write_index))
        return;
    // Full barrier, then release: the copy of the line is complete before the writer may
    // reuse its slot.
    std::atomic_thread_fence(std::memory_order_seq_cst);
    StoreRelease(h.read_index, Next(h, read));
}

size_t MMemLineFifo_GetNumLines(void* base) {
    Header& h = At(base);
    uint64_t write = Acquire(h.write_index);
    uint64_t read = Acquire(h.read_index);
    return write >= read ? write - read : write + Relaxed(h.num_slots) - read;
}

size_t MMemLineFifo_GetNumFree(void* base) {
    return Relaxed(At(base).num_slots) - MMemLineFifo_GetNumLines(base) - 1;
}

size_t MMemLineFifo_Flush(void* base) {
    Header& h = At(base);
    uint64_t write = Acquire(h.write_index);
    // Release: the discarded slots may be reused only after this point.
    StoreRelease(h.read_index, write);
    return write;
}

size_t MMemLineFifo_GetLineLength(void* base) {
    return Relaxed(At(base).line_length);
}

int MMemLineFifo_HasWriter(void* base) {
    return Relaxed(At(base).data_start) != 0;
}

int MMemLineFifo_HasReader(void* base) {
    return Relaxed(At(base).reader) != 0;
}
