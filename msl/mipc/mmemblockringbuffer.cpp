#include "msl/mipc/mmemblockringbuffer.h"

#include "msl/mipc/mmemblockringbufferlayout.h"
#include "platform/trace/merrtrace.h"

#include <atomic>
#include <cstring>

namespace {

using namespace msl::ringbuffer;

struct Wide {
    using Header = Header64;
    using Word = uint64_t;
    static constexpr uint8_t kTag = kSizeofSizeT64;
};

struct Narrow {
    using Header = Header32;
    using Word = uint32_t;
    static constexpr uint8_t kTag = kSizeofSizeT32;
};

// One buffer seen through its layout. Header fields other than write_index change only while
// no block is in transit, so relaxed loads suffice for them; they are still atomic loads
// because a reader may look at them at any time, and GetWritePointer must re-read
// num_entries on every step.
template <class V> class Ring {
public:
    using Header = typename V::Header;
    using Word = typename V::Word;
    static constexpr size_t kHeader = sizeof(Header);

    explicit Ring(void* base)
        : base(static_cast<uint8_t*>(base)), header(static_cast<Header*>(base)) {}

    static Word LockArrayOffset(uintptr_t base, Word numEntries, Word blockSize) {
        // Computed in the variant's width, as every writer of this layout does.
        Word end = static_cast<Word>(kHeader + numEntries * blockSize);
        uintptr_t aligned = (base + end + sizeof(Word) - 1) & ~uintptr_t(sizeof(Word) - 1);
        return static_cast<Word>(aligned - base);
    }

    Word Load(Word& field) const {
        return std::atomic_ref<Word>(field).load(std::memory_order_relaxed);
    }
    void Store(Word& field, Word value) {
        std::atomic_ref<Word>(field).store(value, std::memory_order_relaxed);
    }

    uint8_t Tag() const {
        return std::atomic_ref<uint8_t>(header->sizeof_size_t).load(std::memory_order_relaxed);
    }
    bool Active() const {
        return std::atomic_ref<uint8_t>(header->active).load(std::memory_order_relaxed) != 0;
    }
    void SetActive(bool on) {
        std::atomic_ref<uint8_t>(header->active).store(on ? 1 : 0, std::memory_order_relaxed);
    }

    Word NumEntries() const { return Load(header->num_entries); }
    Word BlockSize() const { return Load(header->block_size); }
    Word* LockArray() const {
        return reinterpret_cast<Word*>(base + Load(header->locked_array_offset));
    }
    std::atomic_ref<Word> Lock(Word index) const {
        return std::atomic_ref<Word>(LockArray()[index]);
    }
    uint8_t* Block(Word index) const { return base + kHeader + size_t(index) * BlockSize(); }

    bool InRange(Word number) const { return number >= 1 && number <= NumEntries(); }

    void Create(Word numEntries, Word blockSize) {
        std::atomic_ref<uint8_t>(header->sizeof_size_t).store(V::kTag, std::memory_order_relaxed);
        SetActive(true);
        Store(header->block_size, blockSize);
        Store(header->num_entries, numEntries);
        Store(header->write_index, 0);
        Store(header->locked_array_offset,
              LockArrayOffset(reinterpret_cast<uintptr_t>(base), numEntries, blockSize));
        ClearLocks(0, numEntries);
    }

    void ClearLocks(Word from, Word to) {
        for (Word i = from; i < to; ++i)
            Lock(i).store(0, std::memory_order_relaxed); // writer-only, no block in transit
    }

    void* GetWritePointer() {
        if (!Active())
            return nullptr;
        return Search([this] { return NumEntries(); }, [this](Word i) { return Lock(i); },
                      [this](Word i) { return Block(i); });
    }

    // The header's layout, read once, when it describes blocks of `blockSize` bytes with their
    // lock array inside a segment of `segmentSize` bytes; another process may have written
    // anything there.
    struct Layout {
        Word entries = 0;
        Word lockOffset = 0;
    };
    bool Fits(size_t segmentSize, size_t blockSize, Layout* layout) const {
        const Word entries = NumEntries();
        const Word lockOffset = Load(header->locked_array_offset);
        if (Tag() != V::kTag || BlockSize() != blockSize || segmentSize < kHeader)
            return false;
        const size_t room = segmentSize - kHeader;
        // Each product is checked against the room before it is formed, so nothing wraps.
        if (blockSize != 0 && entries > room / blockSize)
            return false;
        const size_t blocksEnd = kHeader + size_t(entries) * blockSize;
        if (lockOffset < blocksEnd || lockOffset > segmentSize ||
            entries > (segmentSize - lockOffset) / sizeof(Word) ||
            (reinterpret_cast<uintptr_t>(base) + lockOffset) % sizeof(Word) != 0)
            return false;
        *layout = {entries, lockOffset};
        return true;
    }

    void* GetWritePointerWithin(size_t segmentSize, size_t blockSize) {
        Layout layout;
        if (!Active() || !Fits(segmentSize, blockSize, &layout))
            return nullptr;
        Word* locks = reinterpret_cast<Word*>(base + layout.lockOffset);
        return Search([&] { return layout.entries; },
                      [&](Word i) { return std::atomic_ref<Word>(locks[i]); },
                      [&](Word i) { return base + kHeader + size_t(i) * blockSize; });
    }

    void* GetReadPointer(Word number) const {
        if (!InRange(number))
            return nullptr;
        // Full barrier before the check, so nothing the reader did before (reading the
        // published number) moves after it.
        std::atomic_thread_fence(std::memory_order_seq_cst);
        // Acquire: the block's bytes are read after the check that it holds data.
        if (Lock(number - 1).load(std::memory_order_acquire) == 0)
            return nullptr;
        return Block(number - 1);
    }

    int Release(Word number) {
        if (!InRange(number))
            return 0;
        std::atomic_ref<Word> lock = Lock(number - 1);
        Word held = lock.load(std::memory_order_relaxed);
        if (held == 0)
            return 0;
        // Full barrier: every read of the block is complete before the word drops to 0.
        std::atomic_thread_fence(std::memory_order_seq_cst);
        // Release on the exchange pairs with the writer's acquire load. A compare-exchange
        // leaves a block alone that another reader freed meanwhile.
        while (held != 0) {
            if (lock.compare_exchange_weak(held, 0, std::memory_order_release,
                                           std::memory_order_relaxed))
                return 1;
        }
        return 0;
    }

    Word GetIndex(const void* address) const {
        Word blockSize = BlockSize();
        auto first = reinterpret_cast<uintptr_t>(base) + kHeader;
        auto at = reinterpret_cast<uintptr_t>(address);
        if (blockSize == 0 || at < first)
            return 0;
        uintptr_t number = (at - first) / blockSize + 1;
        return number > NumEntries() ? 0 : static_cast<Word>(number);
    }

    int IsUsed(Word number) const {
        return InRange(number) && Lock(number - 1).load(std::memory_order_relaxed) != 0;
    }

    Word NumUsed() const {
        Word used = 0;
        Word n = NumEntries();
        for (Word i = 0; i < n; ++i)
            used += Lock(i).load(std::memory_order_relaxed) != 0;
        return used;
    }

    void Reset() {
        Store(header->write_index, 0);
        ClearLocks(0, NumEntries());
    }

    // False when a block at or above the new count is in use.
    bool Resize(Word newCount) {
        Word oldCount = NumEntries();
        if (newCount == oldCount)
            return true;
        if (newCount < oldCount) {
            for (Word i = newCount; i < oldCount; ++i)
                if (Lock(i).load(std::memory_order_acquire) != 0)
                    return false;
            Store(header->write_index, 0);
        }
        Word* oldLocks = LockArray();
        Word newOffset = LockArrayOffset(reinterpret_cast<uintptr_t>(base), newCount, BlockSize());
        // No block is in transit, so a plain move of the words is safe; the areas may overlap.
        std::memmove(base + newOffset, oldLocks, size_t(oldCount) * sizeof(Word));
        Store(header->locked_array_offset, newOffset);
        Store(header->num_entries, newCount);
        if (newCount > oldCount)
            ClearLocks(oldCount, newCount);
        return true;
    }

private:
    // Hands out the first free block from the one handed out last; `entries` is asked again
    // on every step.
    template <class Entries, class LockAt, class BlockAt>
    void* Search(Entries entries, LockAt lockAt, BlockAt blockAt) {
        Word n = entries();
        if (n == 0)
            return nullptr;
        Word i = Load(header->write_index);
        if (i >= n)
            i = 0;
        for (Word step = 0; step < n; ++step) {
            // Acquire: pairs with Release, so the reader's last reads of this block happen
            // before we hand it out to be overwritten.
            if (lockAt(i).load(std::memory_order_acquire) == 0) {
                // Relaxed: only the writer uses write_index; readers merely display it.
                Store(header->write_index, i);
                // Relaxed: readers learn the number only through a later publication (the
                // line FIFO's barrier), which carries this store along.
                lockAt(i).store(1, std::memory_order_relaxed);
                return blockAt(i);
            }
            n = entries();
            i = (i + 1 < n) ? i + 1 : 0;
        }
        return nullptr;
    }

    uint8_t* base;
    Header* header;
};

using Ring64 = Ring<Wide>;
using Ring32 = Ring<Narrow>;

// Whether the lock array of a buffer at `base` lies where this process can use it atomically.
template <class V> bool LockArrayAligned(void* base) {
    Ring<V> ring(base);
    return reinterpret_cast<uintptr_t>(ring.LockArray()) % sizeof(typename V::Word) == 0;
}

} // namespace

// --- 64-bit variant -------------------------------------------------------------------------

size_t MMemBlockRingBuffer_CalcMaxEntries(size_t size, size_t block_size) {
    if (size == static_cast<size_t>(-1) || size < kOverhead64 || block_size > size)
        return 0;
    return (size - kOverhead64) / (block_size + kLockWord64);
}

int MMemBlockRingBuffer_Create(void* base, size_t num_entries, size_t block_size) {
    Ring64(base).Create(num_entries, block_size);
    return 1;
}

int MMemBlockRingBuffer_Link(void* base) {
    Ring64 ring(base);
    if (ring.Tag() != kSizeofSizeT64) {
        MERRTRACE("MMemBlockRingBuffer_Link(): Writer has different sizeof(size_t) [%d] than we "
                  "do [%zu]",
                  static_cast<int>(ring.Tag()), size_t(kSizeofSizeT64));
        return 0;
    }
    if (!LockArrayAligned<Wide>(base)) {
        MERRTRACE("MMemBlockRingBuffer_Link(): Address of locked_array_offset (%p) is not "
                  "aligned to %zu",
                  static_cast<void*>(ring.LockArray()), kLockWord64);
        return 0;
    }
    return 1;
}

void MMemBlockRingBuffer_Deactivate(void* base) {
    Ring64(base).SetActive(false);
}

void* MMemBlockRingBuffer_GetWritePointer(void* base) {
    return Ring64(base).GetWritePointer();
}

void* MMemBlockRingBuffer_GetWritePointerWithin(void* base, size_t segment_size,
                                                size_t block_size) {
    return Ring64(base).GetWritePointerWithin(segment_size, block_size);
}

int MMemBlockRingBuffer_FitsSegment(void* base, size_t segment_size, size_t block_size) {
    Ring64::Layout layout;
    return Ring64(base).Fits(segment_size, block_size, &layout) ? 1 : 0;
}

void* MMemBlockRingBuffer_GetReadPointer(void* base, size_t number) {
    return Ring64(base).GetReadPointer(number);
}

int MMemBlockRingBuffer_Release(void* base, size_t number) {
    return Ring64(base).Release(number);
}

size_t MMemBlockRingBuffer_GetIndex(void* base, const void* address) {
    return Ring64(base).GetIndex(address);
}

int MMemBlockRingBuffer_IsUsed(void* base, size_t number) {
    return Ring64(base).IsUsed(number);
}

size_t MMemBlockRingBuffer_GetNumEntries(void* base) {
    return Ring64(base).NumEntries();
}

size_t MMemBlockRingBuffer_GetBlockSize(void* base) {
    return Ring64(base).BlockSize();
}

size_t MMemBlockRingBuffer_GetNumUsed(void* base) {
    return Ring64(base).NumUsed();
}

size_t MMemBlockRingBuffer_GetNumFree(void* base) {
    Ring64 ring(base);
    return ring.NumEntries() - ring.NumUsed();
}

void MMemBlockRingBuffer_Reset(void* base) {
    Ring64(base).Reset();
}

int MMemBlockRingBuffer_Resize(void* base, size_t num_entries) {
    if (!Ring64(base).Resize(num_entries)) {
        MERRTRACE("MMemBlockRingBuffer_Resize(): Cannot shrink because at least one block is in "
                  "use with index > %zu",
                  num_entries);
        return 0;
    }
    return 1;
}

// --- 32-bit variant -------------------------------------------------------------------------

uint32_t MMemBlockRingBuffer32_CalcMaxEntries(size_t size, uint32_t block_size) {
    // -1 arrives as the 64-bit or, from 32-bit callers, as the 32-bit failure value.
    if (size == static_cast<size_t>(-1) || size == UINT32_MAX || size < kOverhead32)
        return 0;
    // The layout's offsets are 32 bits wide: a larger segment is used up to that limit.
    if (size > UINT32_MAX - 1)
        size = UINT32_MAX - 1;
    return static_cast<uint32_t>((size - kOverhead32) / (uint64_t(block_size) + kLockWord32));
}

int MMemBlockRingBuffer32_Create(void* base, uint32_t num_entries, uint32_t block_size) {
    Ring32(base).Create(num_entries, block_size);
    return 1;
}

int MMemBlockRingBuffer32_Link(void* base) {
    Ring32 ring(base);
    if (ring.Tag() != kSizeofSizeT32) {
        MERRTRACE("MMemBlockRingBuffer32_Link(): Writer has different sizeof(size_t) [%d] than "
                  "we do [%zu]",
                  static_cast<int>(ring.Tag()), size_t(kSizeofSizeT32));
        return 0;
    }
    if (!LockArrayAligned<Narrow>(base)) {
        MERRTRACE("MMemBlockRingBuffer32_Link(): Address of locked_array_offset (%p) is not "
                  "aligned to %zu",
                  static_cast<void*>(ring.LockArray()), kLockWord32);
        return 0;
    }
    return 1;
}

void MMemBlockRingBuffer32_Deactivate(void* base) {
    Ring32(base).SetActive(false);
}

void* MMemBlockRingBuffer32_GetWritePointer(void* base) {
    return Ring32(base).GetWritePointer();
}

void* MMemBlockRingBuffer32_GetWritePointerWithin(void* base, size_t segment_size,
                                                  uint32_t block_size) {
    return Ring32(base).GetWritePointerWithin(segment_size, block_size);
}

int MMemBlockRingBuffer32_FitsSegment(void* base, size_t segment_size, uint32_t block_size) {
    Ring32::Layout layout;
    return Ring32(base).Fits(segment_size, block_size, &layout) ? 1 : 0;
}

void* MMemBlockRingBuffer32_GetReadPointer(void* base, uint32_t number) {
    return Ring32(base).GetReadPointer(number);
}

int MMemBlockRingBuffer32_Release(void* base, uint32_t number) {
    return Ring32(base).Release(number);
}

uint32_t MMemBlockRingBuffer32_GetIndex(void* base, const void* address) {
    return Ring32(base).GetIndex(address);
}

int MMemBlockRingBuffer32_IsUsed(void* base, uint32_t number) {
    return Ring32(base).IsUsed(number);
}

uint32_t MMemBlockRingBuffer32_GetNumEntries(void* base) {
    return Ring32(base).NumEntries();
}

uint32_t MMemBlockRingBuffer32_GetBlockSize(void* base) {
    return Ring32(base).BlockSize();
}

uint32_t MMemBlockRingBuffer32_GetNumUsed(void* base) {
    return Ring32(base).NumUsed();
}

uint32_t MMemBlockRingBuffer32_GetNumFree(void* base) {
    Ring32 ring(base);
    return ring.NumEntries() - ring.NumUsed();
}

void MMemBlockRingBuffer32_Reset(void* base) {
    Ring32(base).Reset();
}

int MMemBlockRingBuffer32_Resize(void* base, uint32_t num_entries) {
    if (!Ring32(base).Resize(num_entries)) {
        MERRTRACE("MMemBlockRingBuffer32_Resize(): Cannot shrink because at least one block is "
                  "in use with index > %u",
                  num_entries);
        return 0;
    }
    return 1;
}
