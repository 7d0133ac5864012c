#include "platform/vyx/simacquisition.h"

#include "platform/vyx/simfile.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace Vyx::sim {

namespace {

using Clock = std::chrono::steady_clock;

int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
        .count();
}

Clock::time_point AtNs(int64_t ns) {
    return Clock::time_point(
        std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(ns)));
}

constexpr int64_t NsPerMs = 1000000;
// A frame clock that fell this far behind (a debugger, a starved machine) picks
// up from now instead of firing a burst of frames.
constexpr int64_t MaxLateNs = 1000000000;
// Manual mode gives up finding a frame that is not dropped after this many exposures.
constexpr int MaxSkippedExposures = 1000000;
// How often a replay that waits for its trigger looks for the file.
constexpr auto TriggerPoll = std::chrono::milliseconds(2);

} // namespace

SimAcquisition::~SimAcquisition() {
    if (Running())
        Stop();
}

bool SimAcquisition::Start(const SimPattern* pattern) {
    if (Running())
        return false;
    m_pattern = pattern;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_running = true;
        m_grabbing = false;
        m_deliverable.store(false);
    }
    {
        std::lock_guard<std::recursive_mutex> delivery(m_deliveryMutex);
        m_accepting = true;
    }
    m_thread = std::thread(&SimAcquisition::Run, this);
    m_threadId.store(m_thread.get_id());
    return true;
}

void SimAcquisition::Stop() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_quit = true;
        m_running = false;
        m_grabbing = false;
        m_deliverable.store(false);
        CancelRequest();
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
    m_threadId.store(std::thread::id());
    {
        std::lock_guard<std::recursive_mutex> delivery(m_deliveryMutex);
        m_accepting = false;
        m_receivers.clear();
        m_receiversDirty = false;
        for (CImgBuffer& record : m_records)
            record = CImgBuffer();
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_quit = false;
    m_receiverCount = 0;
    m_faults.Clear();
    m_stats = SimStats();
}

void SimAcquisition::SetReplay(const SimReplay* replay, bool loop, const std::string& trigger) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_replay = replay != nullptr && replay->Size() > 0 ? replay : nullptr;
    m_replayLoop = loop;
    m_replayTrigger = trigger;
}

bool SimAcquisition::ChangeReceivers(bool add, void* context, ImgStreamCallback callback) {
    // Announce the change first: in free-run mode the thread otherwise takes the
    // delivery lock again before a waiting caller gets it.
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_pendingChanges;
    }
    uint32_t count = 0;
    bool found = false;
    {
        std::lock_guard<std::recursive_mutex> delivery(m_deliveryMutex);
        if (!m_accepting) {
            // Stopped: nothing to change.
        } else if (add) {
            found = true;
            m_receivers.push_back({context, callback});
        } else {
            for (auto it = m_receivers.begin(); it != m_receivers.end(); ++it) {
                if (it->callback != callback || it->context != context)
                    continue;
                found = true;
                if (m_delivering) {
                    // Only the acquisition thread gets here; the loop is on its stack.
                    it->callback = nullptr;
                    m_receiversDirty = true;
                } else {
                    m_receivers.erase(it);
                }
                break;
            }
        }
        for (const Receiver& receiver : m_receivers)
            count += receiver.callback != nullptr;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        --m_pendingChanges;
        m_receiverCount = count;
    }
    m_wake.notify_all();
    return found;
}

bool SimAcquisition::AddReceiver(void* context, ImgStreamCallback callback) {
    return ChangeReceivers(true, context, callback);
}

bool SimAcquisition::RemoveReceiver(void* context, ImgStreamCallback callback) {
    return ChangeReceivers(false, context, callback);
}

bool SimAcquisition::Grab() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_running)
            return false;
        if (m_grabbing)
            return true;
        m_grabbing = true;
        m_generation.fetch_add(1);
        m_deliverable.store(true);
        m_exposure = 0;
        m_counter = 0;
        m_stallCheckedFor = 0;
        m_lost = m_afterStall = false;
        m_replayNext = 0;
        m_replayPass = 0;
        m_replayArmed = !m_replayTrigger.empty();
        m_replayEnded = false;
        int64_t now = NowNs();
        // The first exposure takes a frame period, like every other.
        m_lastDueNs = now;
        m_nextDueNs = m_mode == SimMode::FreeRun ? now : now + FirstPeriodNs();
        m_nextStampNs = now + m_periodNs;
        m_stats = SimStats();
    }
    m_wake.notify_all();
    return true;
}

void SimAcquisition::Freeze() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_grabbing = false;
        m_deliverable.store(false);
        CancelRequest();
    }
    m_wake.notify_all();
    // Wait for a frame that is being delivered. On the acquisition thread the
    // lock is ours already: the frame goes to no further receiver.
    std::lock_guard<std::recursive_mutex> delivery(m_deliveryMutex);
    if (m_delivering)
        m_frozenByCallback = true;
}

bool SimAcquisition::Grabbing() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_grabbing;
}

void SimAcquisition::SetGeometry(const FrameGeometry& geometry) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_geometry = geometry;
}

void SimAcquisition::SetFrameRate(double framesPerSecond) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_periodNs = std::max<int64_t>(1, std::llround(1e9 / framesPerSecond));
        if (m_grabbing && m_mode == SimMode::RealTime && m_replay == nullptr)
            m_nextDueNs = m_lastDueNs + m_periodNs;
    }
    m_wake.notify_all();
}

void SimAcquisition::SetTemperature(bool present, double celsius) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_temperature = present;
    m_celsius = celsius;
}

void SimAcquisition::SetTimeStampKind(int32_t kind) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_timeStampKind = kind;
}

void SimAcquisition::SetMode(SimMode mode) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (mode == m_mode)
            return;
        m_mode = mode;
        CancelRequest();
        int64_t now = NowNs();
        m_nextDueNs = mode == SimMode::FreeRun ? now : now + FirstPeriodNs();
        m_lastDueNs = now;
        m_nextStampNs = now + m_periodNs;
    }
    m_wake.notify_all();
}

SimMode SimAcquisition::Mode() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_mode;
}

void SimAcquisition::AddFault(FaultRule rule, bool relativeToNext) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (relativeToNext) {
            uint64_t next = m_grabbing ? m_exposure + 1 : 1;
            rule.last = next + (rule.last - rule.first);
            rule.first = next;
        }
        if (rule.fault == SimFault::Stall && m_grabbing && rule.first == m_stallCheckedFor &&
            rule.first == m_exposure + 1) {
            // The thread already waits for this exposure: lengthen its wait.
            int64_t stallNs = static_cast<int64_t>(rule.stallMs) * NsPerMs;
            if (m_mode == SimMode::FreeRun)
                m_nextDueNs = std::max(m_nextDueNs, NowNs()) + stallNs;
            else if (m_mode == SimMode::RealTime)
                m_nextDueNs += stallNs;
            else
                m_nextStampNs += stallNs;
            m_afterStall = true;
            ++m_stats.stalls;
        } else {
            m_faults.Add(rule);
        }
    }
    m_wake.notify_all();
}

void SimAcquisition::ClearFaults() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_faults.Clear();
}

SimStats SimAcquisition::Stats() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    SimStats stats = m_stats;
    stats.receivers = m_receiverCount;
    return stats;
}

void SimAcquisition::CancelRequest() {
    if (!m_requestActive)
        return;
    m_requestResult = false;
    m_doneTicket = m_requestTicket;
    m_requestActive = false;
    m_emitDone.notify_all();
}

uint32_t SimAcquisition::TakeStall() {
    uint64_t next = m_exposure + 1;
    if (m_stallCheckedFor == next)
        return 0;
    m_stallCheckedFor = next;
    uint32_t ms = m_faults.StallBefore(next);
    if (ms != 0) {
        m_afterStall = true;
        ++m_stats.stalls;
    }
    return ms;
}

void SimAcquisition::FillJob(Job& job) const {
    job.generation = m_generation.load();
    job.geometry = m_geometry;
    job.temperature = m_temperature;
    job.celsius = m_celsius;
    job.timeStampKind = m_timeStampKind;
}

bool SimAcquisition::ReplayWaits() {
    if (m_replay == nullptr)
        return false;
    if (m_mode == SimMode::Manual) {
        m_replayArmed = false; // the test's own requests are the trigger
        return false;
    }
    if (m_replayEnded)
        return true;
    if (!m_replayArmed)
        return false;
    if (!TakeFile(m_replayTrigger))
        return true;
    m_replayArmed = false;
    int64_t now = NowNs();
    m_lastDueNs = now;
    m_nextDueNs = m_mode == SimMode::FreeRun ? now : now + FirstPeriodNs();
    return false;
}

const ReplayFrame* SimAcquisition::StepReplay(uint64_t& timeUs) {
    if (m_replay == nullptr)
        return nullptr;
    const size_t index = m_replayNext;
    const uint64_t pass = m_replayPass;
    m_replayGapNs = m_replay->GapAfterNs(index);
    if (++m_replayNext == m_replay->Size()) {
        m_replayNext = 0;
        if (m_replayLoop || !m_replayTrigger.empty()) {
            ++m_replayPass;
            m_replayArmed = !m_replayLoop;
        } else {
            m_replayEnded = true;
        }
    }
    m_counter = m_replay->Counter(index, pass);
    timeUs = m_replay->TimeUs(index, pass);
    return &m_replay->Frame(index);
}

bool SimAcquisition::NextExposure(int64_t timeStampNs, Job& job) {
    ++m_exposure;
    ++m_stats.exposures;
    uint64_t replayTimeUs = 0;
    const ReplayFrame* replayed = StepReplay(replayTimeUs);
    if (replayed == nullptr && ++m_counter == 0) // the counter skips 0, which marks broken frames
        m_counter = 1;
    SimFaultPlan::Outcome outcome = m_faults.Decide(m_exposure);
    if (outcome == SimFaultPlan::Outcome::Drop) {
        ++m_stats.dropped;
        m_lost = true;
        return false;
    }
    job.exposure = m_exposure;
    job.timeStampNs = timeStampNs;
    const bool lost = m_lost || (replayed != nullptr && replayed->afterLoss);
    job.flags = (lost ? ImgFlag_FramesLost : 0u) | (m_afterStall ? ImgFlag_AfterStall : 0u);
    m_lost = m_afterStall = false;
    job.counter = m_counter;
    job.data = replayed != nullptr ? replayed->pixels : nullptr;
    job.pixels = replayed == nullptr || replayed->pixels != nullptr;
    if (outcome == SimFaultPlan::Outcome::Broken) {
        job.counter = 0;
        job.pixels = false;
        ++m_stats.broken;
    } else if (outcome == SimFaultPlan::Outcome::CounterZero) {
        job.counter = 0;
        ++m_stats.counterZero;
    }
    if (!job.pixels)
        job.flags |= ImgFlag_NoPixels;
    FillJob(job);
    job.rawTime = replayed != nullptr;
    if (replayed != nullptr) {
        // The recorded time stamp, in the unit lintelhost wrote it in.
        job.rawTimeStamp = replayTimeUs;
        job.timeStampKind = TimeStamp_Microseconds;
        job.celsius = replayed->celsius;
    }
    return true;
}

void SimAcquisition::Run() {
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_quit) {
        if (!m_grabbing) {
            m_wake.wait(lock);
            continue;
        }
        if (ReplayWaits()) {
            if (m_replayEnded)
                m_wake.wait(lock);
            else
                m_wake.wait_for(lock, TriggerPoll);
            continue;
        }
        Job job;
        bool deliver = false;
        uint64_t ticket = 0;
        if (m_mode == SimMode::Manual) {
            if (!m_requestActive || m_takenTicket == m_requestTicket) {
                m_wake.wait(lock);
                continue;
            }
            ticket = m_takenTicket = m_requestTicket;
            if (m_requestExact) {
                ++m_exposure;
                ++m_stats.exposures;
                job.exposure = m_exposure;
                job.counter = m_request.counter;
                if (job.counter != 0)
                    m_counter = job.counter;
                job.pixels = m_request.pixels;
                job.timeStampNs = m_nextStampNs;
                job.rawTimeStamp = m_request.timeStamp;
                job.rawTime = job.rawTimeStamp != 0;
                if (m_replay != nullptr) {
                    // The pixels of the frame the recording plays next.
                    job.data = m_replay->Frame(m_replayNext).pixels;
                    job.pixels = job.pixels && job.data != nullptr;
                }
                job.flags = job.pixels ? 0u : ImgFlag_NoPixels;
                if (job.counter == 0)
                    ++(job.pixels ? m_stats.counterZero : m_stats.broken);
                m_nextStampNs += m_periodNs;
                FillJob(job);
                deliver = true;
            } else {
                // The camera's own next frame: dropped exposures pass, a stall
                // shows only in the time stamps.
                for (int i = 0; i < MaxSkippedExposures && !deliver && !m_replayEnded; ++i) {
                    m_nextStampNs += static_cast<int64_t>(TakeStall()) * NsPerMs;
                    deliver = NextExposure(m_nextStampNs, job);
                    m_nextStampNs += m_periodNs;
                }
            }
        } else {
            int64_t stallNs = static_cast<int64_t>(TakeStall()) * NsPerMs;
            int64_t now = NowNs();
            if (m_mode == SimMode::FreeRun) {
                if (stallNs != 0)
                    m_nextDueNs = now + stallNs;
                if (now < m_nextDueNs) {
                    m_wake.wait_until(lock, AtNs(m_nextDueNs));
                    continue;
                }
                if (m_receiverCount == 0 || m_pendingChanges > 0) {
                    m_wake.wait(lock);
                    continue;
                }
                deliver = NextExposure(now, job);
            } else {
                m_nextDueNs += stallNs;
                if (now < m_nextDueNs) {
                    m_wake.wait_until(lock, AtNs(m_nextDueNs));
                    continue;
                }
                if (now - m_nextDueNs > MaxLateNs)
                    m_nextDueNs = now;
                // Stamped with the exposure's own time: frames lie one period apart
                // however late the thread got here.
                deliver = NextExposure(m_nextDueNs, job);
                m_lastDueNs = m_nextDueNs;
                m_nextDueNs += m_replay != nullptr ? m_replayGapNs : m_periodNs;
            }
        }
        bool delivered = false;
        if (deliver) {
            lock.unlock();
            delivered = Deliver(job);
            lock.lock();
        }
        if (ticket != 0 && m_doneTicket < ticket) {
            m_requestResult = delivered;
            m_doneTicket = ticket;
            m_requestActive = false;
            m_emitDone.notify_all();
        }
    }
}

bool SimAcquisition::Deliver(const Job& job) {
    std::lock_guard<std::recursive_mutex> delivery(m_deliveryMutex);
    // A Freeze that got the lock first has the last word.
    if (!m_deliverable.load() || job.generation != m_generation.load())
        return false;
    CImgBuffer& record = m_records[m_nextRecord];
    m_nextRecord = (m_nextRecord + 1) % RecordCount;
    const FrameGeometry& g = job.geometry;
    record.rowPitch = g.rowPitch;
    record.rows = g.rows;
    record.offsetX = g.offsetX;
    record.offsetY = g.offsetY;
    record.clipWidth = g.clipWidth;
    record.clipHeight = g.clipHeight;
    record.bytesPerPixel = g.bytesPerPixel;
    record.pixelFormat = g.pixelFormat;
    record.bitsPerPixel = g.bitsPerPixel;
    if (!job.pixels)
        record.pixels = nullptr;
    else if (job.data != nullptr)
        record.pixels = job.data;
    else
        record.pixels = m_pattern->Frame(job.counter != 0 ? job.counter : job.exposure);
    record.timeStampKind = job.timeStampKind;
    if (job.rawTime)
        record.timeStamp = job.rawTimeStamp;
    else if (job.timeStampKind == TimeStamp_Microseconds)
        record.timeStamp = static_cast<uint64_t>(job.timeStampNs) / 1000;
    else
        record.timeStamp = static_cast<uint64_t>(job.timeStampNs);
    record.frameCounter = job.counter;
    if (job.temperature) {
        // Raw reading in 1/256 degrees, as the sensor chip reports it.
        ImgAttribute& temperature = record.attributes[ImgAttr_Temperature];
        temperature.first = std::round(job.celsius * 256.0);
        temperature.second = job.celsius;
    } else if (!record.attributes.empty()) {
        record.attributes.clear();
    }

    m_delivering = true;
    m_frozenByCallback = false;
    // By index: a callback may add receivers, which may move the vector.
    for (size_t i = 0; i < m_receivers.size() && !m_frozenByCallback; ++i) {
        Receiver receiver = m_receivers[i];
        if (receiver.callback != nullptr)
            receiver.callback(receiver.context, &record, job.flags);
    }
    m_delivering = false;
    if (m_receiversDirty) {
        std::erase_if(m_receivers, [](const Receiver& r) { return r.callback == nullptr; });
        m_receiversDirty = false;
    }
    // Counted before the delivery lock goes, so that a Freeze that waited for
    // this frame finds it counted.
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_stats.delivered;
    m_stats.lastCounter = job.counter;
    return true;
}

bool SimAcquisition::Emit(const SimFrame* exact) {
    if (OnAcquisitionThread())
        return false;
    std::lock_guard<std::mutex> serial(m_emitMutex);
    std::unique_lock<std::mutex> lock(m_mutex);
    m_emitDone.wait(lock, [this] { return !m_requestActive || m_quit; });
    if (m_quit || !m_grabbing || m_mode != SimMode::Manual)
        return false;
    m_requestActive = true;
    m_requestExact = exact != nullptr;
    if (exact != nullptr)
        m_request = *exact;
    uint64_t ticket = ++m_requestTicket;
    m_wake.notify_all();
    // Generous: a receiver under a sanitizer on a loaded machine may be slow.
    if (!m_emitDone.wait_for(lock, std::chrono::seconds(60),
                             [this, ticket] { return m_doneTicket >= ticket; }))
        return false;
    return m_requestResult;
}

} // namespace Vyx::sim
