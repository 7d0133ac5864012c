#include "tests/host/fakemachine/fakecommands.h"

#include "lintel/server/commands/moutputchannel.h"
#include "msl/mipc/mmemblockringbuffer.h"
#include "msl/mipc/msharedmem.h"
#include "tests/host/fakemachine/fakejournal.h"
#include "tests/host/fakemachine/fakemachine.h"

bool FakeGetCommand::IsDone() {
    values = machine.Values(axes);
    return true;
}

bool FakeScandataCommand::IsDone() {
    for (const std::string& axis : axes) {
        if (machine.FindAxis(axis) == nullptr) {
            out->Error(4);
            return true;
        }
    }
    machine.SetScandata(axes);
    return true;
}

template <class Base> bool FakeMeasuring<Base>::IsDone() {
    if (done)
        return true;
    if (!started) {
        started = true;
        scan = machine.StartScan(this->out, this->request, fixedFrames);
        if (!scan) {
            done = true;
            return true;
        }
    }
    if (!beginSent && scan->HasLines()) {
        this->out->Event(3);
        beginSent = true;
    }
    if (!scan->Finished() || scan->HasLines())
        return false;
    std::string error = scan->Error();
    if (!error.empty())
        this->out->Error(error);
    scan->StopAndDrain();
    done = true;
    return true;
}

template <class Base> void FakeMeasuring<Base>::Abort() {
    if (done)
        return;
    done = true;
    if (scan)
        FakeJournal_Write("%s aborted, %zu images released", this->GetName(), scan->StopAndDrain());
}

template <class Base> bool FakeMeasuring<Base>::ReadNextLine(std::vector<double>& values) {
    return scan && scan->ReadLine(values);
}

template class FakeMeasuring<MMachScanCommand>;
template class FakeMeasuring<MMachScanpointCommand>;

bool FakeImagefifoCreateCommand::IsDone() {
    if (done)
        return true;
    done = true;
    MMachImageInfo info;
    machine->GetProbesystemImageInfo(info);
    const uint64_t slotSize = uint64_t(info.width) * info.height * info.bytesPerPixel;
    if (slotSize == 0) {
        out->Error(22);
        return true;
    }
    const bool use64 = always64 || size > 0x7FFFFFFFu;
    void* base = MSharedMem_LinkOrCreate(name.c_str(), size);
    if (base == nullptr) {
        out->Error(48);
        return true;
    }
    size = MSharedMem_GetSize(base);
    const uint64_t slots = use64 ? MMemBlockRingBuffer_CalcMaxEntries(size, slotSize)
                                 : MMemBlockRingBuffer32_CalcMaxEntries(size, uint32_t(slotSize));
    if (slots == 0) {
        out->Error(49);
        MSharedMem_Unlink(base);
        return true;
    }
    MMachImagefifo record;
    record.imageInfo = info;
    record.name = name;
    if (use64) {
        MMemBlockRingBuffer_Create(base, slots, slotSize);
        record.ringBuffer64 = base;
    } else {
        MMemBlockRingBuffer32_Create(base, uint32_t(slots), uint32_t(slotSize));
        record.ringBuffer32 = base;
    }
    static_cast<FakeMachine*>(machine)->Fifos()[name] = record;
    return true;
}

bool FakeImagefifoDeleteCommand::IsDone() {
    if (done)
        return true;
    done = true;
    auto& fifos = static_cast<FakeMachine*>(machine)->Fifos();
    auto it = fifos.find(name);
    if (it == fifos.end()) {
        out->Error(3);
        return true;
    }
    if (it->second.ringBuffer64 != nullptr) {
        MMemBlockRingBuffer_Deactivate(it->second.ringBuffer64);
        MSharedMem_Unlink(it->second.ringBuffer64);
    }
    if (it->second.ringBuffer32 != nullptr) {
        MMemBlockRingBuffer32_Deactivate(it->second.ringBuffer32);
        MSharedMem_Unlink(it->second.ringBuffer32);
    }
    fifos.erase(it);
    return true;
}

bool FakeImagefifoResetCommand::IsDone() {
    if (done)
        return true;
    done = true;
    MMachImagefifo* fifo = machine->GetActiveImageFifo();
    if (fifo == nullptr) {
        out->Error(50);
        return true;
    }
    if (fifo->ringBuffer64 != nullptr)
        MMemBlockRingBuffer_Reset(fifo->ringBuffer64);
    else
        MMemBlockRingBuffer32_Reset(fifo->ringBuffer32);
    return true;
}
