#pragma once
// The acquisition thread of the simulated camera: it makes frames (on a frame
// clock, as fast as possible, or on request) from the test pattern or from a
// recording, applies the fault plan and hands each frame to every registered
// stream callback.
//
// Locks: m_mutex guards the state below it and is never held while a callback
// runs; m_deliveryMutex is held while callbacks run and guards the receivers
// and records. It is recursive so that a callback may register or remove
// receivers, or freeze the camera, on the acquisition thread.

#include "platform/vyx/cimgbuffer.h"
#include "platform/vyx/simcontrol.h"
#include "platform/vyx/simfaultplan.h"
#include "platform/vyx/simpattern.h"
#include "platform/vyx/simreplay.h"

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace Vyx::sim {

struct FrameGeometry {
    uint64_t rowPitch = 0;
    uint64_t rows = 0;
    uint64_t offsetX = 0;
    uint64_t offsetY = 0;
    uint64_t clipWidth = 0;
    uint64_t clipHeight = 0;
    uint64_t bytesPerPixel = 1;
    uint32_t pixelFormat = 0;
    uint32_t bitsPerPixel = 8;
};

class SimAcquisition {
public:
    static constexpr size_t RecordCount = 16;

    SimAcquisition() = default;
    ~SimAcquisition();
    SimAcquisition(const SimAcquisition&) = delete;
    SimAcquisition& operator=(const SimAcquisition&) = delete;

    // Starts the thread on frames from pattern (which must outlive Stop).
    bool Start(const SimPattern* pattern);
    // Plays replay (which must outlive Stop; null: the pattern) from every Grab. After its
    // last frame it plays again, or with loop false stalls until the next Grab. With a
    // trigger path each pass waits until that file exists, and removes it, except in manual
    // mode. Its frame clock is the recording's time stamps, whatever the frame rate says.
    void SetReplay(const SimReplay* replay, bool loop, const std::string& trigger);
    // Freezes, drops every receiver and ends the thread. Not on the thread itself.
    void Stop();
    bool Running() const { return m_thread.joinable(); }
    bool OnAcquisitionThread() const { return std::this_thread::get_id() == m_threadId.load(); }

    // False once the thread is stopped.
    bool AddReceiver(void* context, ImgStreamCallback callback);
    bool RemoveReceiver(void* context, ImgStreamCallback callback);

    bool Grab(); // false when the thread is not running
    void Freeze();

    void SetGeometry(const FrameGeometry& geometry);
    void SetFrameRate(double framesPerSecond);
    void SetTemperature(bool present, double celsius);
    void SetTimeStampKind(int32_t kind);
    void SetMode(SimMode mode);
    SimMode Mode() const;
    bool Grabbing() const;

    // exposure 0: the next exposure.
    void AddFault(FaultRule rule, bool relativeToNext);
    void ClearFaults();

    // Manual mode: one frame, auto (null) or exact; true when it was delivered.
    bool Emit(const SimFrame* exact);

    SimStats Stats() const;

private:
    struct Receiver {
        void* context;
        ImgStreamCallback callback; // null: removed during a delivery
    };
    struct Job {
        uint64_t generation = 0;
        uint64_t exposure = 0;
        uint32_t counter = 0;
        bool pixels = true;
        int64_t timeStampNs = 0;
        uint64_t rawTimeStamp = 0; // given by a test or a recording, in the record's unit
        bool rawTime = false;
        const uint8_t* data = nullptr; // the pixels, when not the pattern's
        uint32_t flags = 0;
        FrameGeometry geometry;
        bool temperature = false;
        double celsius = 0;
        int32_t timeStampKind = TimeStamp_Nanoseconds;
    };

    void Run();
    // Next exposure of the camera's own sequence; false when it is dropped.
    bool NextExposure(int64_t timeStampNs, Job& job);
    void FillJob(Job& job) const;
    // Replay: the recording's next frame, its counter made the camera's; null without one.
    const ReplayFrame* StepReplay(uint64_t& timeUs);
    // Replay: true while the pass waits for its trigger or the next Grab.
    bool ReplayWaits();
    int64_t FirstPeriodNs() const { return m_replay ? m_replay->PeriodNs() : m_periodNs; }
    // Stall before the next exposure, applied once per exposure.
    uint32_t TakeStall();
    bool Deliver(const Job& job);
    void CancelRequest();
    bool ChangeReceivers(bool add, void* context, ImgStreamCallback callback);

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;     // the thread: state changed
    std::condition_variable m_emitDone; // Emit: a request was served
    bool m_quit = false;
    bool m_running = false;
    bool m_grabbing = false;
    SimMode m_mode = SimMode::RealTime;
    int64_t m_periodNs = 20000000;
    FrameGeometry m_geometry;
    bool m_temperature = false;
    double m_celsius = 0;
    int32_t m_timeStampKind = TimeStamp_Nanoseconds;
    const SimPattern* m_pattern = nullptr;
    const SimReplay* m_replay = nullptr;
    bool m_replayLoop = true;
    std::string m_replayTrigger;
    size_t m_replayNext = 0;    // frame the pass plays next
    uint64_t m_replayPass = 0;  // passes since Grab
    bool m_replayArmed = false; // the pass waits for its trigger
    bool m_replayEnded = false; // stalled after the last frame until the next Grab
    int64_t m_replayGapNs = 0;  // from the frame just made to the next
    SimFaultPlan m_faults;
    uint64_t m_exposure = 0; // last exposure made since Grab
    uint32_t m_counter = 0;  // last counter given out
    int64_t m_nextDueNs = 0; // real time: when the next exposure is delivered
    int64_t m_lastDueNs = 0;
    int64_t m_nextStampNs = 0; // manual: time stamp of the next exposure
    uint64_t m_stallCheckedFor = 0;
    bool m_lost = false; // the next delivered frame follows dropped ones
    bool m_afterStall = false;
    int m_pendingChanges = 0; // callers waiting to change the receivers
    uint32_t m_receiverCount = 0;
    bool m_requestActive = false; // manual: a request waits or is served
    bool m_requestExact = false;
    SimFrame m_request;
    uint64_t m_requestTicket = 0;
    uint64_t m_takenTicket = 0;
    uint64_t m_doneTicket = 0;
    bool m_requestResult = false;
    std::mutex m_emitMutex; // one Emit at a time
    SimStats m_stats;

    std::atomic<bool> m_deliverable{false}; // grabbing, as Deliver sees it
    std::atomic<uint64_t> m_generation{0};  // one per Grab
    std::atomic<std::thread::id> m_threadId{};
    std::thread m_thread;

    std::recursive_mutex m_deliveryMutex;
    std::vector<Receiver> m_receivers;
    bool m_accepting = false; // receivers may be added
    bool m_delivering = false;
    bool m_frozenByCallback = false; // a callback froze the camera: stop this frame
    bool m_receiversDirty = false;
    std::array<CImgBuffer, RecordCount> m_records;
    size_t m_nextRecord = 0;
};

} // namespace Vyx::sim
