#include "lintel/server/machine/mmachimagefifo.h"

#include "msl/mipc/mmemblockringbuffer.h"
#include "msl/mipc/msharedmem.h"
#include "platform/trace/merrtrace.h"

size_t MMachImagefifo::Reset(MMachImagefifo& record, size_t slotSize) {
    const char* const self = "MMachImagefifo::Reset";
    if (record.ringBuffer64 != nullptr) {
        const size_t segment = MSharedMem_GetSize(record.ringBuffer64);
        const size_t slots = MMemBlockRingBuffer_CalcMaxEntries(segment, slotSize);
        if (slots == 0) {
            MERRTRACE("%s(): MMemBlockRingBuffer_CalcMaxEntries(%zu,%zu) failed [shared memory too "
                      "small]",
                      self, segment, slotSize);
            return 0;
        }
        if (!MMemBlockRingBuffer_Create(record.ringBuffer64, slots, slotSize)) {
            MERRTRACE("%s(): MMemBlockRingBuffer_Create() failed", self);
            return 0;
        }
        return slots;
    }
    if (record.ringBuffer32 != nullptr) {
        const size_t segment = MSharedMem_GetSize(record.ringBuffer32);
        // A block size beyond the 32-bit layout cannot fit any segment it addresses.
        const uint32_t slots =
            slotSize > UINT32_MAX
                ? 0
                : MMemBlockRingBuffer32_CalcMaxEntries(segment, static_cast<uint32_t>(slotSize));
        if (slots == 0) {
            MERRTRACE("%s(): MMemBlockRingBuffer_CalcMaxEntries(%zu,%zu) failed [shared memory too "
                      "small]",
                      self, segment, slotSize);
            return 0;
        }
        if (!MMemBlockRingBuffer32_Create(record.ringBuffer32, slots,
                                          static_cast<uint32_t>(slotSize))) {
            MERRTRACE("%s(): MMemBlockRingBuffer32_Create() failed", self);
            return 0;
        }
        return slots;
    }
    MERRTRACE("%s(): no ringbuffer", self);
    return 0;
}
