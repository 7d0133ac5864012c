#include "lintel/server/machine/mmachimagefifocommands.h"

#include "lintel/server/commands/moutputchannel.h"
#include "lintel/server/machine/mmachabstract.h"
#include "msl/merror/merrtracecontext.h"
#include "msl/mipc/mmemblockringbuffer.h"
#include "msl/mipc/msharedmem.h"
#include "platform/trace/merrlog.h"
#include "platform/trace/merrtrace.h"
#include "platform/trace/mtrace.h"

#include <atomic>
#include <thread>
#include <utility>
#include <vector>

namespace {

constexpr int32_t kInvalidArgument = 3;
constexpr int32_t kInternalError = 16;
constexpr int32_t kProbesystemNotLoaded = 22;
constexpr int32_t kCannotAccessSharedMemory = 48;
constexpr int32_t kSharedMemoryTooSmall = 49;
constexpr int32_t kNoImagefifoActive = 50;

MMachImageInfo CurrentImageInfo(MMachAbstract* machine) {
    MMachImageInfo info;
    machine->GetProbesystemImageInfo(info);
    return info;
}

void Deactivate(void* segment, bool is64) {
    if (is64)
        MMemBlockRingBuffer_Deactivate(segment);
    else
        MMemBlockRingBuffer32_Deactivate(segment);
}

// A segment this command made but will not keep: withdraw the buffer and drop the link.
void Discard(void* segment, bool is64) {
    Deactivate(segment, is64);
    MSharedMem_Unlink(segment);
}

// Withdraws a FIFO record's buffer and releases its segment (removing its name, which this
// process made).
void Release(const MMachImagefifo& record) {
    for (auto [segment, is64] :
         {std::pair{record.ringBuffer64, true}, std::pair{record.ringBuffer32, false}})
        if (segment != nullptr) {
            Deactivate(segment, is64);
            MSharedMem_Destroy(segment);
        }
}

} // namespace

// The segment of a large create, made on a thread of its own; the command thread reads the
// result once `finished` is set.
struct MMachImagefifoCreateCommand::Background {
    std::thread thread;
    std::atomic<bool> finished{false};
    void* segment = nullptr;
    std::vector<std::string> trace; // the error trace of the thread, for the command's
};

MMachImagefifoCreateCommand::MMachImagefifoCreateCommand(MOutputChannel* out,
                                                         MMachAbstract* machine,
                                                         const std::string& name, uint64_t size,
                                                         bool always64)
    : MMachCommand(out), machine(machine), name(name), size(size), always64(always64) {}

MMachImagefifoCreateCommand::~MMachImagefifoCreateCommand() {
    Abort();
}

bool MMachImagefifoCreateCommand::IsDone() {
    if (done)
        return true;
    const bool is64 = MMachImagefifo::Is64Bit(size, always64);
    if (background != nullptr) {
        if (!background->finished.load(std::memory_order_acquire))
            return false;
        background->thread.join();
        void* segment = background->segment;
        const std::vector<std::string> trace = std::move(background->trace);
        background.reset();
        MErrTraceContext context(__FILE__);
        for (const std::string& line : trace)
            MERRTRACE("%s", line.c_str());
        return Finish(context, segment, is64);
    }
    MErrTraceContext context(__FILE__);
    slotSize = MMachImagefifo::SlotSize(CurrentImageInfo(machine));
    if (slotSize == 0) {
        done = true;
        MERRLOG("IsDone() [%s]: current probesystem (\"%s\" %u) is not an optical device",
                GetName(), machine->GetActiveProbesystem().c_str(),
                machine->GetActiveProbesystemId());
        out->Error(kProbesystemNotLoaded);
        return true;
    }
    // Every FIFO gets a segment of its own, of exactly this size: its slots are known before
    // anything is made, and a refusal leaves a FIFO of that name as it was.
    slots = 0;
    if (is64)
        slots = MMemBlockRingBuffer_CalcMaxEntries(static_cast<size_t>(size), slotSize);
    else if (slotSize <= UINT32_MAX)
        slots = MMemBlockRingBuffer32_CalcMaxEntries(static_cast<size_t>(size),
                                                     static_cast<uint32_t>(slotSize));
    if (slots == 0) {
        done = true;
        MERRLOG("IsDone() [%s]: shared memory segment too small", GetName());
        out->Error(kSharedMemoryTooSmall);
        return true;
    }
    // Creating again replaces the FIFO: its readers see the old buffer withdrawn. Should the
    // new segment not come, the name is gone, never a withdrawn FIFO still listed.
    auto& fifos = machine->GetImageFifoMap();
    auto old = fifos.find(name);
    if (old != fifos.end()) {
        Release(old->second);
        fifos.erase(old);
    }
    if (size >= kBackgroundSize) {
        background = std::make_unique<Background>();
        Background* work = background.get();
        const std::string segmentName = name;
        const size_t segmentSize = static_cast<size_t>(size);
        MMachAbstract* wake = machine;
        work->thread = std::thread([work, segmentName, segmentSize, wake] {
            MErrTrace_BeginContext();
            work->segment = MSharedMem_Create(segmentName.c_str(), segmentSize);
            work->trace = MErrTrace_GetContextLines();
            MErrTrace_ClearContext();
            MErrTrace_EndContext();
            work->finished.store(true, std::memory_order_release);
            wake->WakeUpClients(); // the server polls again at once
        });
        return false;
    }
    return Finish(context, MSharedMem_Create(name.c_str(), static_cast<size_t>(size)), is64);
}

bool MMachImagefifoCreateCommand::Finish(MErrTraceContext& context, void* segment, bool is64) {
    done = true;
    if (segment == nullptr) {
        MERRTRACE("IsDone() [%s]: failed to create shared memory %s", GetName(), name.c_str());
        context.DumpToMErrLog(__LINE__, "IsDone() [%s] failed", GetName());
        out->Error(kCannotAccessSharedMemory);
        return true;
    }
    const int created = is64 ? MMemBlockRingBuffer_Create(segment, slots, slotSize)
                             : MMemBlockRingBuffer32_Create(segment, static_cast<uint32_t>(slots),
                                                            static_cast<uint32_t>(slotSize));
    if (!created) {
        MERRTRACE("IsDone() [%s]: failed to create buffer", GetName());
        context.DumpToMErrLog(__LINE__, "IsDone() [%s] failed", GetName());
        out->Error(kInternalError);
        Discard(segment, is64);
        return true;
    }
    MTRACE(
        5, "IsDone() [%s]: imagefifo %s initialised with %zu total size, %zu slots, %zu slot size",
        GetName(), name.c_str(), static_cast<size_t>(size), slots, static_cast<size_t>(slotSize));
    MMachImagefifo& record = machine->GetImageFifoMap()[name];
    record.imageInfo = CurrentImageInfo(machine);
    record.ringBuffer64 = is64 ? segment : nullptr;
    record.ringBuffer32 = is64 ? nullptr : segment;
    record.name = name;
    return true;
}

bool MMachImagefifoDeleteCommand::IsDone() {
    if (done)
        return true;
    MErrTraceContext context(__FILE__);
    done = true;
    MMachImagefifo* record = machine->FindImageFifo(name);
    if (record == nullptr) {
        MERRLOG("IsDone() [%s]: no such buffer: %s", GetName(), name.c_str());
        out->Error(kInvalidArgument);
        return true;
    }
    bool failed = false;
    for (auto [segment, is64] :
         {std::pair{record->ringBuffer64, true}, std::pair{record->ringBuffer32, false}}) {
        if (segment == nullptr)
            continue;
        Deactivate(segment, is64);
        if (!MSharedMem_Unlink(segment)) {
            MERRTRACE("IsDone() [%s]: failed to delete shared memory at %p", GetName(), segment);
            out->Error(kInternalError);
            failed = true;
        }
    }
    machine->GetImageFifoMap().erase(name);
    if (failed)
        context.DumpToMErrLog(__LINE__, "IsDone() [%s] failed", GetName());
    return true;
}

bool MMachImagefifoResetCommand::IsDone() {
    if (done)
        return true;
    MErrTraceContext context(__FILE__);
    done = true;
    MMachImagefifo* record = machine->GetActiveImageFifo();
    if (record == nullptr) {
        out->Error(kNoImagefifoActive);
        return true;
    }
    const MMachImageInfo info = CurrentImageInfo(machine);
    const uint64_t slotSize = MMachImagefifo::SlotSize(info);
    if (slotSize == 0) {
        out->Error(kProbesystemNotLoaded);
        return true;
    }
    const size_t slots = MMachImagefifo::Reset(*record, static_cast<size_t>(slotSize));
    if (slots == 0) {
        MERRTRACE("%s() [%s]: failed to reset buffer", "MMachImagefifoResetCommand::IsDone",
                  GetName());
        context.DumpToMErrLog(__LINE__, "IsDone() [%s] failed", GetName());
        out->Error(kSharedMemoryTooSmall);
        return true;
    }
    record->imageInfo = info;
    MTRACE(5, "IsDone() [%s]: imagefifo %s initialised with %zu slots, %zu slot size", GetName(),
           record->name.c_str(), slots, static_cast<size_t>(slotSize));
    return true;
}

void MMachImagefifoCreateCommand::Abort() {
    if (background == nullptr)
        return;
    background->thread.join();
    if (background->segment != nullptr)
        MSharedMem_Unlink(background->segment); // no ring buffer was made in it yet
    background.reset();
    done = true;
}

// The work of these commands happens inside one IsDone call; there is nothing to stop.
void MMachImagefifoDeleteCommand::Abort() {}
void MMachImagefifoResetCommand::Abort() {}

const char* MMachImagefifoCreateCommand::GetName() const {
    return "imagefifo create";
}

const char* MMachImagefifoDeleteCommand::GetName() const {
    return "imagefifo delete";
}

const char* MMachImagefifoResetCommand::GetName() const {
    return "imagefifo reset";
}

const char* MMachImagefifoSelectCommand::GetName() const {
    return "imagefifo select";
}
