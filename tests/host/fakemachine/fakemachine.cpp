#include "tests/host/fakemachine/fakemachine.h"

#include "lintel/server/commands/moutputchannel.h"
#include "lintel/server/machine/mclientnotifier.h"
#include "msl/mipc/mnamedevent.h"
#include "msl/mipc/msharedmem.h"
#include "platform/trace/merrlog.h"
#include "tests/host/fakemachine/fakecommands.h"
#include "tests/host/fakemachine/fakejournal.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

constexpr uint32_t kImageWidth = 64;
constexpr uint32_t kImageHeight = 32;
const std::chrono::steady_clock::time_point processStart = std::chrono::steady_clock::now();

} // namespace

// A preview into shared memory: a thread writes a frame whenever the interval has passed and
// the client has reset the event.
struct FakePreviewMemory {
    MOutputChannel* reply = nullptr;
    void* memory = nullptr;
    MNamedEvent* event = nullptr;
    std::mutex lock;
    std::condition_variable stop;
    bool stopping = false;
    std::thread writer;

    void Run(uint32_t intervalMs, MClientNotifier* notifier) {
        uint64_t frame = 0;
        std::unique_lock<std::mutex> guard(lock);
        while (!stopping) {
            if (MNamedEvent_Wait(event, 0) == 0) {
                ++frame;
                auto* pixels = static_cast<uint8_t*>(memory);
                for (uint64_t k = 0; k < uint64_t(kImageWidth) * kImageHeight; ++k)
                    pixels[k] = FakeScan::PatternByte(frame, k);
                MNamedEvent_Signal(event);
                notifier->WakeUp();
            }
            stop.wait_for(guard, std::chrono::milliseconds(intervalMs),
                          [this] { return stopping; });
        }
    }
};

FakeMachine::FakeMachine(const std::string& name, const std::string& directory,
                         MOutputChannel* channel, MClientNotifier* notifier)
    : MMachAbstract(channel, notifier, name, directory) {
    axisCursor = axes.end();
    componentCursor = components.end();
    fifoCursor = imageFifos.end();
    FakeJournal_SetDirectory(directory);
    FakeJournal_Write("constructed %s", name.c_str());
}

FakeMachine::~FakeMachine() {
    if (resyncThread.joinable())
        resyncThread.join();
    FakeJournal_Write("deleted: autoinfo %s, previews %zu",
                      autoinfoThread.joinable() ? "running" : "stopped",
                      previewMemories.size() + (previewReply != nullptr ? 1 : 0));
    if (autoinfoThread.joinable())
        StopAutoinfo();
}

void FakeMachine::AddAxis(const std::string& name, uint32_t flags, double maximum,
                          double accuracy) {
    MMachAxis axis;
    axis.name = name;
    axis.flags = flags;
    axis.maximum = maximum;
    axis.accuracy = accuracy;
    axis.step = 1;
    axis.index = axes.size();
    axes[name] = axis;
    values.push_back(0.0);
}

bool FakeMachine::Open() {
    const char* how = std::getenv("FAKEMACHINE_OPEN");
    if (how != nullptr && std::strcmp(how, "fail") == 0) {
        MERRLOG("FakeMachine::open_devices(): no device answers");
        MERRLOG("FakeMachine::Open(): open_devices() failed");
        channel->Error(std::string("fake machine cannot open"));
        return false;
    }
    if (how != nullptr && std::strcmp(how, "degraded") == 0) {
        channel->Error(std::string("failed to open probe manager"));
        return true;
    }
    AddAxis("time", 2, std::numeric_limits<double>::max(), 0.001);
    AddAxis("x", 6, 100, 0.001);
    AddAxis("y", 6, 100, 0.001);
    AddAxis("trigger_count", 2, 4294967295.0, 1);
    AddAxis("imageindex", 2, 18446744073709551616.0, 1);
    AddAxis("lock", 2, 1, 1);
    AddAxis("framerate", 6, 100000, 0.001);
    AddAxis("preview_updates", 2, 1e12, 1);
    values[axes["framerate"].index] = 1000.0;
    components["fake.config"] = MMachComponent{"1.00-0", 3};
    components["fake.resync"] = MMachComponent{"1.00-0", 1};
    for (const char* name :
         {"MMachGetCommand", "MMachImagefifoCreateCommand", "MMachImagefifoDeleteCommand",
          "MMachImagefifoInfoCommand", "MMachImagefifoResetCommand", "MMachImagefifoSelectCommand",
          "MMachProbesystemTypeCommand", "MMachScanCommand", "MMachScandataCommand",
          "MMachScanpointCommand", "MMachSetCommand"})
        EnableCommand(name);
    opened = true;
    FakeJournal_Write("opened");
    return true;
}

bool FakeMachine::Close() {
    FakeJournal_Write("closed: autoinfo %s, previews %zu",
                      autoinfoThread.joinable() ? "running" : "stopped",
                      previewMemories.size() + (previewReply != nullptr ? 1 : 0));
    for (auto& [name, fifo] : imageFifos) {
        if (fifo.ringBuffer64 != nullptr)
            MSharedMem_Destroy(fifo.ringBuffer64);
        if (fifo.ringBuffer32 != nullptr)
            MSharedMem_Destroy(fifo.ringBuffer32);
    }
    imageFifos.clear();
    fifoCursor = imageFifos.end();
    activeFifo.clear();
    return true;
}

void FakeMachine::PollAsyncErrors() {
    if (resyncPending.exchange(false))
        channel->Event(std::string("resync needed"));
}

double FakeMachine::Now() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - processStart).count();
}

const MMachComponentEntry* FakeMachine::FindComponent(const std::string& name) {
    auto it = components.find(name);
    return it == components.end() ? nullptr : &*it;
}

const MMachComponentEntry* FakeMachine::FirstComponent() {
    componentCursor = components.begin();
    return NextComponent();
}

const MMachComponentEntry* FakeMachine::NextComponent() {
    return componentCursor == components.end() ? nullptr : &*componentCursor++;
}

const MMachAxis* FakeMachine::FindAxis(const std::string& name) {
    auto it = axes.find(name);
    return it == axes.end() ? nullptr : &it->second;
}

const MMachAxis* FakeMachine::FirstAxis() {
    axisCursor = axes.begin();
    return NextAxis();
}

const MMachAxis* FakeMachine::NextAxis() {
    return axisCursor == axes.end() ? nullptr : &(axisCursor++)->second;
}

double FakeMachine::GetAxisValue(const std::string& name) {
    return Values({name})[0];
}

std::vector<double> FakeMachine::Values(const std::vector<std::string>& names) {
    std::lock_guard<std::mutex> guard(valuesLock);
    std::vector<double> result;
    for (const std::string& name : names) {
        auto it = axes.find(name);
        if (it == axes.end())
            result.push_back(std::numeric_limits<double>::quiet_NaN());
        else if (name == "time")
            result.push_back(Now());
        else
            result.push_back(values[it->second.index]);
    }
    return result;
}

// ---- autoinfo ----

bool FakeMachine::StartAutoinfo(MOutputChannel* reply, uint32_t intervalMs,
                                const std::vector<std::string>& names) {
    for (const std::string& name : names) {
        if (axes.count(name) == 0) {
            reply->Error(4);
            return false;
        }
    }
    autoinfoAxes = names;
    autoinfoInterval = intervalMs < 10 ? 10 : intervalMs;
    autoinfoLast = std::chrono::steady_clock::now();
    autoinfoStopping = false;
    autoinfoThread = std::thread([this] {
        std::unique_lock<std::mutex> guard(autoinfoLock);
        while (!autoinfoStop.wait_for(guard, std::chrono::milliseconds(autoinfoInterval),
                                      [this] { return autoinfoStopping; }))
            notifier->WakeUp();
    });
    FakeJournal_Write("autoinfo started");
    return true;
}

void FakeMachine::StopAutoinfo() {
    {
        std::lock_guard<std::mutex> guard(autoinfoLock);
        autoinfoStopping = true;
    }
    autoinfoStop.notify_all();
    if (autoinfoThread.joinable())
        autoinfoThread.join();
    autoinfoAxes.clear();
    FakeJournal_Write("autoinfo stopped");
}

bool FakeMachine::GetAutoinfo(std::vector<double>& out) {
    const auto now = std::chrono::steady_clock::now();
    if (now - autoinfoLast < std::chrono::milliseconds(autoinfoInterval))
        return false;
    autoinfoLast = now;
    out = Values(autoinfoAxes);
    return true;
}

// ---- previews ----

bool FakeMachine::StartPreview(MOutputChannel* reply, const MMachPreviewPlacement& placement) {
    if (placement.width > 10000) {
        reply->Error(std::string("failed to open preview window"));
        return false;
    }
    previewReply = reply;
    reply->Event(4);
    FakeJournal_Write("preview window started");
    return true;
}

bool FakeMachine::StopPreview() {
    previewReply = nullptr;
    FakeJournal_Write("preview window stopped");
    return true;
}

bool FakeMachine::UpdatePreview() {
    if (previewReply == nullptr)
        return false;
    std::lock_guard<std::mutex> guard(valuesLock);
    values[axes["preview_updates"].index] += 1;
    return true;
}

bool FakeMachine::StartPreviewMemory(MOutputChannel* reply, uint32_t minIntervalMs,
                                     const std::string& memoryName,
                                     const std::string& probesystemName) {
    if (previewMemories.count(probesystemName) != 0) {
        reply->Error(19);
        return false;
    }
    auto preview = std::make_unique<FakePreviewMemory>();
    preview->reply = reply;
    preview->event = MNamedEvent_Create((memoryName + ".event").c_str());
    preview->memory = MSharedMem_LinkOrCreate(memoryName.c_str(), kImageWidth * kImageHeight);
    if (preview->event == nullptr || preview->memory == nullptr) {
        if (preview->memory != nullptr)
            MSharedMem_Unlink(preview->memory);
        MNamedEvent_Close(preview->event);
        reply->Error(std::string("shared memory failure"));
        return false;
    }
    FakePreviewMemory* raw = preview.get();
    raw->writer = std::thread([raw, minIntervalMs, this] { raw->Run(minIntervalMs, notifier); });
    previewMemories[probesystemName] = std::move(preview);
    reply->Event(4);
    FakeJournal_Write("preview memory %s started", probesystemName.c_str());
    return true;
}

bool FakeMachine::StopPreviewMemory(const std::string& probesystemName) {
    auto it = previewMemories.find(probesystemName);
    if (it == previewMemories.end())
        return false;
    FakePreviewMemory& p = *it->second;
    {
        std::lock_guard<std::mutex> guard(p.lock);
        p.stopping = true;
    }
    p.stop.notify_all();
    p.writer.join();
    MSharedMem_Unlink(p.memory);
    MNamedEvent_Close(p.event);
    previewMemories.erase(it);
    FakeJournal_Write("preview memory %s stopped", probesystemName.c_str());
    return true;
}

bool FakeMachine::IsPreviewMemoryRunning(const std::string& probesystemName) {
    return previewMemories.count(probesystemName) != 0;
}

bool FakeMachine::UpdatePreviewMemory(const std::string& probesystemName) {
    return previewMemories.count(probesystemName) != 0;
}

void FakeMachine::StopAllPreviews() {
    if (previewReply != nullptr) {
        previewReply->Error(std::string("aborted"));
        StopPreview();
    }
    while (!previewMemories.empty()) {
        auto name = previewMemories.begin()->first;
        previewMemories.begin()->second->reply->Error(std::string("aborted"));
        StopPreviewMemory(name);
    }
}

// ---- probesystems, image FIFOs ----

std::vector<ProbesystemRecord> FakeMachine::ListProbesystems(const std::string& name, uint32_t id) {
    std::vector<ProbesystemRecord> list;
    for (const auto& [n, ids] : probesystems)
        if (name == "*" || name == n)
            for (const auto& [i, record] : ids)
                if (id == 0 || id == i)
                    list.push_back(record);
    return list;
}

MMachProbesystemType FakeMachine::GetActiveProbesystemType() {
    MMachProbesystemType type;
    if (activeProbesystem.empty())
        return type;
    type.kind = MMachProbesystemType::kAreaCamera;
    type.width = kImageWidth;
    type.height = kImageHeight;
    type.widthMm = 0.5;
    type.heightMm = 0.25;
    return type;
}

void FakeMachine::GetProbesystemImageInfo(MMachImageInfo& info) {
    info = MMachImageInfo{};
    if (!activeProbesystem.empty())
        info = MMachImageInfo{kImageWidth, kImageHeight, 1};
}

MMachImagefifo* FakeMachine::FindImageFifo(const std::string& name) {
    auto it = imageFifos.find(name);
    return it == imageFifos.end() ? nullptr : &it->second;
}

MMachImagefifo* FakeMachine::FirstImageFifo() {
    fifoCursor = imageFifos.begin();
    return NextImageFifo();
}

MMachImagefifo* FakeMachine::NextImageFifo() {
    return fifoCursor == imageFifos.end() ? nullptr : &(fifoCursor++)->second;
}

// ---- factories ----

MMachGetCommand* FakeMachine::NewMMachGetCommand(MOutputChannel* out,
                                                 const std::vector<std::string>& names) {
    return new FakeGetCommand(out, names, *this);
}

MMachInitCommand* FakeMachine::NewMMachInitCommand(MOutputChannel* out,
                                                   const std::set<std::string>& names) {
    for (const std::string& name : names) {
        if (axes.count(name) == 0) {
            out->Error(4);
            return nullptr;
        }
    }
    return new FakeDone<MMachInitCommand>(out, names);
}

MMachReceiveCommand* FakeMachine::NewMMachReceiveCommand(MOutputChannel* out,
                                                         const std::string& component) {
    return new FakeReceiveCommand(out, component,
                                  component == "fake.config" ? componentData : std::string());
}

MMachSendCommand* FakeMachine::NewMMachSendCommand(MOutputChannel* out,
                                                   const std::string& component,
                                                   const std::string& data) {
    if (component == "fake.config") {
        componentData = data;
    } else if (component == "fake.resync") {
        // A camera error seen on another thread, as a camera callback would see it.
        if (resyncThread.joinable())
            resyncThread.join();
        resyncThread = std::thread([this] {
            resyncPending = true;
            notifier->WakeUp();
        });
    }
    return new FakeDone<MMachSendCommand>(out, component, data);
}

MMachSetCommand* FakeMachine::NewMMachSetCommand(MOutputChannel* out,
                                                 const std::map<std::string, double>& changes) {
    std::lock_guard<std::mutex> guard(valuesLock);
    for (const auto& [name, value] : changes) {
        auto it = axes.find(name);
        if (it == axes.end() || (it->second.flags & MMachAxis::kWritable) == 0) {
            out->Error(4);
            return nullptr;
        }
        if (name == "framerate" && value <= 0) {
            out->Error(9);
            return nullptr;
        }
        values[it->second.index] = value;
    }
    return new FakeDone<MMachSetCommand>(out, changes);
}

std::unique_ptr<FakeScan>
FakeMachine::StartScan(MOutputChannel* out, const MMachScanRequest& request, uint64_t fixedFrames) {
    if (request.axes.size() != 1 || request.axes.begin()->first != "time") {
        out->Error(4);
        return nullptr;
    }
    FakeScanSetup setup;
    setup.frameRate = Values({"framerate"})[0];
    setup.startTime = Now();
    const MMachScanTarget& target = request.axes.begin()->second;
    const double span = target.relative != 0 ? target.value : target.value - setup.startTime;
    setup.frames = fixedFrames != 0 ? fixedFrames : uint64_t(std::max(0.0, span * setup.frameRate));
    if (setup.frames == 0) {
        out->Error(3);
        return nullptr;
    }
    setup.reported = scandata;
    if (const MMachImagefifo* fifo = GetActiveImageFifo()) {
        setup.ring64 = fifo->ringBuffer64;
        setup.ring32 = fifo->ringBuffer32;
        setup.frameBytes = uint64_t(fifo->imageInfo.width) * fifo->imageInfo.height *
                           fifo->imageInfo.bytesPerPixel;
    }
    setup.notifier = notifier;
    FakeJournal_Write("scan of %llu frames", static_cast<unsigned long long>(setup.frames));
    return std::make_unique<FakeScan>(std::move(setup));
}

MMachScanCommand* FakeMachine::NewMMachScanCommand(MOutputChannel* out,
                                                   const MMachScanRequest& request) {
    return new FakeScanCommand(out, request, *this, 0);
}

MMachScanpointCommand* FakeMachine::NewMMachScanpointCommand(MOutputChannel* out,
                                                             const MMachScanRequest& request) {
    return new FakeScanpointCommand(out, request, *this, 1);
}

MMachScandataCommand* FakeMachine::NewMMachScandataCommand(MOutputChannel* out,
                                                           const std::vector<std::string>& names) {
    return new FakeScandataCommand(out, names, *this);
}

MMachProbesystemLoadCommand* FakeMachine::NewMMachProbesystemLoadCommand(MOutputChannel* out,
                                                                         const std::string& name,
                                                                         uint32_t id) {
    auto it = probesystems.find(name);
    if (it == probesystems.end() || it->second.count(id) == 0) {
        out->Error(id == 0 || it == probesystems.end() ? 20 : 21);
        return nullptr;
    }
    StopAllPreviews();
    activeProbesystem = name;
    out->Event(5);
    return new FakeDone<MMachProbesystemLoadCommand>(out);
}

MMachProbesystemUnloadCommand* FakeMachine::NewMMachProbesystemUnloadCommand(MOutputChannel* out) {
    StopAllPreviews();
    activeProbesystem.clear();
    return new FakeDone<MMachProbesystemUnloadCommand>(out);
}

MMachProbesystemDefineCommand*
FakeMachine::NewMMachProbesystemDefineCommand(MOutputChannel* out, const std::string& name) {
    auto& ids = probesystems[name];
    ProbesystemRecord record;
    record.name = name;
    record.id = ids.empty() ? 1 : ids.rbegin()->first + 1;
    record.x = 1.5;
    record.gamma = -0.25;
    ids[record.id] = record;
    return new FakeDone<MMachProbesystemDefineCommand>(out);
}

MMachProbesystemDeleteCommand*
FakeMachine::NewMMachProbesystemDeleteCommand(MOutputChannel* out, const std::string& name,
                                              uint32_t id) {
    auto it = probesystems.find(name);
    if (it == probesystems.end() || it->second.erase(id) == 0) {
        out->Error(16);
        return nullptr;
    }
    if (it->second.empty())
        probesystems.erase(it);
    return new FakeDone<MMachProbesystemDeleteCommand>(out);
}

MMachProbeLoadCommand* FakeMachine::NewMMachProbeLoadCommand(MOutputChannel* out, uint32_t probe,
                                                             uint32_t tip) {
    if (probes.count(uint64_t(probe) << 32 | tip) == 0) {
        out->Error(26);
        return nullptr;
    }
    out->Event(5);
    return new FakeDone<MMachProbeLoadCommand>(out);
}

MMachProbeDeleteCommand* FakeMachine::NewMMachProbeDeleteCommand(MOutputChannel* out,
                                                                 uint32_t probe, uint32_t tip) {
    if (probes.erase(uint64_t(probe) << 32 | tip) == 0) {
        out->Error(16);
        return nullptr;
    }
    return new FakeDone<MMachProbeDeleteCommand>(out);
}

MMachProbeDefineCommand*
FakeMachine::NewMMachProbeDefineCommand(MOutputChannel* out, uint32_t probe, uint32_t tip,
                                        const std::map<std::string, double>&) {
    if (probe == 0 || probe > 1000) {
        out->Error(28);
        return nullptr;
    }
    probes[uint64_t(probe) << 32 | tip] = true;
    return new FakeDone<MMachProbeDefineCommand>(out);
}

MMachProbeUnloadCommand* FakeMachine::NewMMachProbeUnloadCommand(MOutputChannel* out) {
    out->Event(5);
    return new FakeDone<MMachProbeUnloadCommand>(out);
}

MMachProbeChangeCommand* FakeMachine::NewMMachProbeChangeCommand(MOutputChannel* out,
                                                                 uint32_t probe, uint32_t tip) {
    if (probes.count(uint64_t(probe) << 32 | tip) == 0) {
        out->Error(16);
        return nullptr;
    }
    return new FakeDone<MMachProbeChangeCommand>(out);
}

MMachImagefifoCreateCommand* FakeMachine::NewMMachImagefifoCreateCommand(MOutputChannel* out,
                                                                         const std::string& name,
                                                                         uint64_t size) {
    return new FakeImagefifoCreateCommand(out, this, name, size, false);
}

MMachImagefifoDeleteCommand* FakeMachine::NewMMachImagefifoDeleteCommand(MOutputChannel* out,
                                                                         const std::string& name) {
    if (activeFifo == name)
        activeFifo.clear();
    return new FakeImagefifoDeleteCommand(out, this, name);
}

MMachImagefifoResetCommand* FakeMachine::NewMMachImagefifoResetCommand(MOutputChannel* out) {
    return new FakeImagefifoResetCommand(out, this);
}

MMachImagefifoSelectCommand* FakeMachine::NewMMachImagefifoSelectCommand(MOutputChannel* out,
                                                                         const std::string& name) {
    activeFifo = name;
    return new FakeDone<MMachImagefifoSelectCommand>(out, name);
}
