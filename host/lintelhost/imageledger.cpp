#include "host/lintelhost/imageledger.h"

#include "lintel/server/machine/mmachabstract.h"
#include "msl/mipc/mmemblockringbuffer.h"

void ImageLedger::Named(const std::string& fifo, uint64_t block, ClientId client) {
    holders[fifo][block] = client;
}

void ImageLedger::Gone(ClientId client) {
    gone.insert(client);
}

size_t ImageLedger::Settle(MMachAbstract& machine, bool measurementRuns) {
    if (gone.empty() || measurementRuns)
        return 0;
    size_t released = 0;
    for (auto fifo = holders.begin(); fifo != holders.end();) {
        // A FIFO deleted since holds nothing to release; one made anew under its name has
        // blocks in use only where lines named them since.
        const MMachImagefifo* record = machine.FindImageFifo(fifo->first);
        if (record == nullptr) {
            fifo = holders.erase(fifo);
            continue;
        }
        auto& blocks = fifo->second;
        for (auto it = blocks.begin(); it != blocks.end();) {
            if (gone.count(it->second) == 0) {
                ++it;
                continue;
            }
            // Release answers 0 for a block the client had released itself.
            if (record->ringBuffer64 != nullptr)
                released += MMemBlockRingBuffer_Release(record->ringBuffer64, it->first);
            else if (record->ringBuffer32 != nullptr && it->first <= UINT32_MAX)
                released += MMemBlockRingBuffer32_Release(record->ringBuffer32,
                                                          static_cast<uint32_t>(it->first));
            it = blocks.erase(it);
        }
        fifo = blocks.empty() ? holders.erase(fifo) : std::next(fifo);
    }
    gone.clear();
    return released;
}
