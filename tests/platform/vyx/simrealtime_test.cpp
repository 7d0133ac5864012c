// Frames on the camera's own clock and in free run, and receivers that come and
// go while frames flow. These run on the library's thread, so the suites end in
// Concurrency and run under ThreadSanitizer too.

#include "tests/platform/vyx/simtestsupport.h"

#include <atomic>
#include <thread>

using namespace Vyx;
using vyx::test::FrameSink;
using vyx::test::SeenFrame;
using vyx::test::SimCameraTest;

using SimRealTimeConcurrency = SimCameraTest;
using SimReceiversConcurrency = SimCameraTest;

namespace {

int64_t MonotonicNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

TEST_F(SimRealTimeConcurrency, FramesComeAtTheFrameRateToEveryReceiver) {
    ASSERT_NE(Open("FrameRate = 100\n"), nullptr);
    FrameSink first, second;
    ASSERT_TRUE(camera->RegisterImgStreamInput(&first, FrameSink::Callback, 0));
    ASSERT_TRUE(camera->RegisterImgStreamInput(&second, FrameSink::Callback, 0));
    ASSERT_TRUE(camera->SetClippingRegion(8, 2, 64, 32, 0));
    auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(camera->Grab(0));
    ASSERT_TRUE(first.WaitFor(30));
    auto elapsed = std::chrono::steady_clock::now() - start;
    ASSERT_TRUE(camera->SetFrameRate(200, 0)); // takes effect while grabbing
    size_t before = first.Count();
    ASSERT_TRUE(first.WaitFor(before + 10));
    ASSERT_TRUE(camera->Freeze(0));
    // Once Freeze returned nothing more arrives.
    size_t frozen = first.Count();
    EXPECT_EQ(SimControl::GetStats().delivered, frozen);

    std::vector<SeenFrame> a = first.Frames(), b = second.Frames();
    ASSERT_EQ(a.size(), frozen);
    ASSERT_EQ(b.size(), frozen);
    for (size_t i = 0; i < a.size(); ++i) {
        EXPECT_EQ(a[i].counter, i + 1);
        EXPECT_EQ(b[i].counter, i + 1);
        EXPECT_EQ(a[i].timeStamp, b[i].timeStamp);
        EXPECT_EQ(a[i].clipWidth, 64u);
        EXPECT_EQ(a[i].offsetY, 2u);
    }
    // Stamped by the camera's frame clock: one period apart, on the monotonic clock.
    for (size_t i = 1; i < 30; ++i)
        EXPECT_NEAR(double(a[i].timeStamp - a[i - 1].timeStamp), 10e6, 1e3) << i;
    for (size_t i = before + 1; i < a.size(); ++i)
        EXPECT_NEAR(double(a[i].timeStamp - a[i - 1].timeStamp), 5e6, 1e3) << i;
    EXPECT_LT(std::abs(MonotonicNs() - int64_t(a.back().timeStamp)), int64_t(5e9));
    // 30 frames at 100 fps take 0.3 s; a loaded machine may be late, never early.
    EXPECT_GE(elapsed, std::chrono::milliseconds(280));
    EXPECT_LT(elapsed, std::chrono::seconds(15));
}

TEST_F(SimRealTimeConcurrency, StallAndDropsOnTheFrameClock) {
    ASSERT_NE(Open("FrameRate = 100\nDropFrames = 3\n"), nullptr);
    FrameSink sink;
    ASSERT_TRUE(camera->RegisterImgStreamInput(&sink, FrameSink::Callback, 0));
    ASSERT_TRUE(camera->Grab(0));
    ASSERT_TRUE(sink.WaitFor(5));
    ASSERT_TRUE(SimControl::InjectFault(SimFault::Stall, 0, 300));
    size_t before = sink.Count();
    ASSERT_TRUE(sink.WaitFor(before + 5));
    ASSERT_TRUE(camera->Freeze(0));

    std::vector<SeenFrame> f = sink.Frames();
    EXPECT_EQ(f[2].counter, 4u); // exposure 3 never came
    EXPECT_EQ(f[2].flags, static_cast<uint32_t>(ImgFlag_FramesLost));
    size_t stalled = 0;
    for (size_t i = 1; i < f.size(); ++i) {
        EXPECT_EQ(f[i].counter, f[i - 1].counter + (i == 2 ? 2 : 1));
        if (f[i].flags & ImgFlag_AfterStall) {
            ++stalled;
            EXPECT_GE(f[i].timeStamp - f[i - 1].timeStamp, 310000000u);
            EXPECT_GE(f[i].arrival - f[i - 1].arrival, std::chrono::milliseconds(250));
        }
    }
    EXPECT_EQ(stalled, 1u);
}

TEST_F(SimRealTimeConcurrency, FreeRunDeliversAsFastAsReceiversTakeFrames) {
    ASSERT_NE(Open("Mode = freerun\n"), nullptr);
    ASSERT_TRUE(camera->Grab(0));
    // Nobody to take frames: none are made.
    EXPECT_EQ(SimControl::GetStats().exposures, 0u);
    struct Counter {
        std::atomic<uint32_t> last{0}, gaps{0}, count{0};
    } counter;
    auto callback = [](void* context, const CImgBuffer* image, uint32_t) {
        auto* c = static_cast<Counter*>(context);
        if (image->frameCounter != c->last.load() + 1 || image->pixels == nullptr)
            c->gaps.fetch_add(1);
        c->last.store(image->frameCounter);
        c->count.fetch_add(1);
    };
    auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(camera->RegisterImgStreamInput(&counter, callback, 0));
    // 2000 frames at 50 fps would take 40 s.
    while (counter.count.load() < 2000 &&
           std::chrono::steady_clock::now() - start < std::chrono::seconds(20))
        std::this_thread::yield();
    ASSERT_TRUE(camera->UnregisterImgStreamInput(&counter, callback, 0));
    EXPECT_GE(counter.count.load(), 2000u);
    EXPECT_EQ(counter.gaps.load(), 0u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    // Frames are made only for takers: at most the one in hand when it left.
    uint64_t made = SimControl::GetStats().exposures;
    EXPECT_GE(made, counter.count.load());
    EXPECT_LE(made, counter.count.load() + 1u);
}

namespace {

// A receiver that knows whether it is registered: a call while it is not is a fault.
struct Tracked {
    std::atomic<bool> registered{false};
    std::atomic<uint32_t> calls{0};
    std::atomic<uint32_t> strays{0};
    static void Callback(void* context, const CImgBuffer*, uint32_t) {
        auto* self = static_cast<Tracked*>(context);
        if (!self->registered.load())
            self->strays.fetch_add(1);
        self->calls.fetch_add(1);
    }
};

} // namespace

TEST_F(SimReceiversConcurrency, RegisterAndRemoveWhileFramesFlow) {
    ASSERT_NE(Open("Mode = freerun\n"), nullptr);
    Tracked steady;
    steady.registered = true;
    ASSERT_TRUE(camera->RegisterImgStreamInput(&steady, Tracked::Callback, 0));
    ASSERT_TRUE(camera->Grab(0));

    constexpr int kThreads = 3;
    Tracked churn[kThreads];
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int round = 0; round < 200; ++round) {
                churn[t].registered = true;
                if (!camera->RegisterImgStreamInput(&churn[t], Tracked::Callback, 0))
                    failures.fetch_add(1);
                uint32_t seen = churn[t].calls.load();
                // Let a frame or two reach it, without waiting for ever.
                for (int spin = 0; spin < 1000 && churn[t].calls.load() == seen; ++spin)
                    std::this_thread::yield();
                if (!camera->UnregisterImgStreamInput(&churn[t], Tracked::Callback, 0))
                    failures.fetch_add(1);
                churn[t].registered = false; // from here on a call is a fault
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    ASSERT_TRUE(camera->Freeze(0));
    steady.registered = false;

    EXPECT_EQ(failures.load(), 0);
    EXPECT_GT(steady.calls.load(), 0u);
    EXPECT_EQ(steady.strays.load(), 0u);
    uint32_t churnCalls = 0;
    for (Tracked& tracked : churn) {
        EXPECT_EQ(tracked.strays.load(), 0u);
        churnCalls += tracked.calls.load();
    }
    EXPECT_GT(churnCalls, 0u);
    EXPECT_EQ(SimControl::GetStats().receivers, 1u);
}

namespace {

// On its first frame it removes itself and registers another receiver, both
// from the acquisition thread.
struct OneShot {
    CImgSensors* camera = nullptr;
    Tracked added;
    std::atomic<uint32_t> calls{0};
    std::atomic<bool> removed{false};
    static void Callback(void* context, const CImgBuffer*, uint32_t) {
        auto* self = static_cast<OneShot*>(context);
        if (self->calls.fetch_add(1) != 0)
            return;
        self->removed = self->camera->UnregisterImgStreamInput(self, &OneShot::Callback, 0);
        self->added.registered = true;
        self->camera->RegisterImgStreamInput(&self->added, Tracked::Callback, 0);
    }
};

struct Freezer {
    CImgSensors* camera = nullptr;
    std::atomic<uint32_t> calls{0};
    static void Callback(void* context, const CImgBuffer*, uint32_t) {
        auto* self = static_cast<Freezer*>(context);
        self->calls.fetch_add(1);
        self->camera->Freeze(0);
    }
};

} // namespace

TEST_F(SimReceiversConcurrency, CallbacksMayChangeReceiversAndFreeze) {
    ASSERT_NE(Open("FrameRate = 200\n"), nullptr);
    OneShot oneShot;
    oneShot.camera = camera;
    FrameSink sink;
    ASSERT_TRUE(camera->RegisterImgStreamInput(&oneShot, OneShot::Callback, 0));
    ASSERT_TRUE(camera->RegisterImgStreamInput(&sink, FrameSink::Callback, 0));
    ASSERT_TRUE(camera->Grab(0));
    ASSERT_TRUE(sink.WaitFor(6));
    EXPECT_TRUE(oneShot.removed.load());
    EXPECT_EQ(oneShot.calls.load(), 1u);
    // Added during frame 1, after the sink: it saw frame 1 too, or from frame 2 on.
    EXPECT_GE(oneShot.added.calls.load(), 4u);
    EXPECT_EQ(SimControl::GetStats().receivers, 2u);

    // A receiver that freezes the camera from the acquisition thread: it is the
    // last frame anyone gets.
    Freezer freezer;
    freezer.camera = camera;
    ASSERT_TRUE(camera->RegisterImgStreamInput(&freezer, Freezer::Callback, 0));
    for (int i = 0; i < 2000 && SimControl::GetState().grabbing; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_FALSE(SimControl::GetState().grabbing);
    EXPECT_EQ(freezer.calls.load(), 1u);
    EXPECT_EQ(sink.Frames().back().counter, SimControl::GetStats().lastCounter);
    EXPECT_TRUE(camera->Uninitialize(0));
    EXPECT_EQ(SimControl::GetStats().receivers, 0u);
}
