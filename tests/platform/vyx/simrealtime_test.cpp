// Frames on the camera's own clock and in free run, and callbacks that change the receivers.
// These run on the library's thread, so the suites end in Concurrency and run under
// ThreadSanitizer too. The module registers one receiver and fans frames out itself; the
// camera sensor's tests drive that fan-out while frames flow.

#include "tests/platform/vyx/simtestsupport.h"

#include <atomic>
#include <thread>

using namespace Vyx;
using namespace vyx::test;

using SimRealTimeConcurrency = SimCameraTest;
using SimReceiversConcurrency = SimCameraTest;

// Frames at the frame rate to every receiver are the camera sensor's scan tests' daily bread;
// left here: a rate changed while grabbing, the monotonic clock, a stall in real time and
// free run, which makes frames only for takers.
TEST_F(SimRealTimeConcurrency, ARateChangedWhileGrabbingTakesEffectOnTheMonotonicClock) {
    ASSERT_NE(Open("FrameRate = 100\n"), nullptr);
    FrameSink sink;
    ASSERT_TRUE(GrabInto(sink)) << Error();
    ASSERT_TRUE(sink.WaitFor(5));
    ASSERT_TRUE(camera->SetFrameRate(200, 0));
    const size_t before = sink.Count();
    ASSERT_TRUE(sink.WaitFor(before + 10));
    ASSERT_TRUE(camera->Freeze(0));
    // Once Freeze returned nothing more arrives.
    EXPECT_EQ(SimControl::GetStats().delivered, sink.Count());
    const std::vector<SeenFrame> a = sink.Frames();
    for (size_t i = before + 1; i < a.size(); ++i)
        EXPECT_NEAR(double(a[i].timeStamp - a[i - 1].timeStamp), 5e6, 1e3) << i;
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    EXPECT_LT(std::chrono::abs(now - std::chrono::nanoseconds(a.back().timeStamp)),
              std::chrono::seconds(5));
}

TEST_F(SimRealTimeConcurrency, AStallHoldsTheFramesBackInRealTime) {
    ASSERT_NE(Open("FrameRate = 100\n"), nullptr);
    FrameSink sink;
    ASSERT_TRUE(GrabInto(sink)) << Error();
    ASSERT_TRUE(sink.WaitFor(2));
    ASSERT_TRUE(SimControl::InjectFault(SimFault::Stall, 0, 300));
    ASSERT_TRUE(sink.WaitFor(sink.Count() + 3));
    ASSERT_TRUE(camera->Freeze(0));
    const std::vector<SeenFrame> f = sink.Frames();
    size_t stalled = 0;
    for (size_t i = 1; i < f.size(); ++i) {
        if (f[i].flags & ImgFlag_AfterStall) {
            ++stalled;
            EXPECT_GE(f[i].timeStamp - f[i - 1].timeStamp, 310000000u);
            EXPECT_GE(f[i].arrival - f[i - 1].arrival, std::chrono::milliseconds(250));
        }
    }
    EXPECT_EQ(stalled, 1u);
}

TEST_F(SimRealTimeConcurrency, FreeRunMakesFramesOnlyForTakers) {
    ASSERT_NE(Open("Mode = freerun\n"), nullptr);
    ASSERT_TRUE(camera->Grab(0));
    EXPECT_EQ(SimControl::GetStats().exposures, 0u) << "nobody to take frames: none are made";
    FrameSink sink;
    ASSERT_TRUE(camera->RegisterImgStreamInput(&sink, FrameSink::Callback, 0));
    // 2000 frames at 50 fps would take 40 s, beyond the wait.
    ASSERT_TRUE(sink.WaitFor(2000));
    ASSERT_TRUE(camera->UnregisterImgStreamInput(&sink, FrameSink::Callback, 0));
    EXPECT_EQ(sink.Frames().back().frameCounter, sink.Count()) << "no frame skipped";
    // At most the one in hand when it left.
    const uint64_t made = SimControl::GetStats().exposures;
    EXPECT_GE(made, sink.Count());
    EXPECT_LE(made, sink.Count() + 1u);
}

namespace {

// On its first frame it removes itself and registers another receiver, both
// from the acquisition thread.
struct OneShot {
    CImgSensors* camera = nullptr;
    FrameSink added;
    std::atomic<uint32_t> calls{0};
    std::atomic<bool> removed{false};
    static void Callback(void* context, const CImgBuffer*, uint32_t) {
        auto* self = static_cast<OneShot*>(context);
        if (self->calls.fetch_add(1) != 0)
            return;
        self->removed = self->camera->UnregisterImgStreamInput(self, &OneShot::Callback, 0);
        self->camera->RegisterImgStreamInput(&self->added, FrameSink::Callback, 0);
    }
};

} // namespace

TEST_F(SimReceiversConcurrency, CallbacksMayChangeReceiversAndFreeze) {
    ASSERT_NE(Open("FrameRate = 200\n"), nullptr);
    OneShot oneShot;
    oneShot.camera = camera;
    FrameSink sink;
    ASSERT_TRUE(camera->RegisterImgStreamInput(&oneShot, OneShot::Callback, 0));
    ASSERT_TRUE(GrabInto(sink)) << Error();
    ASSERT_TRUE(sink.WaitFor(6));
    EXPECT_TRUE(oneShot.removed.load());
    EXPECT_EQ(oneShot.calls.load(), 1u);
    // Added during frame 1, after the sink: it saw frame 1 too, or from frame 2 on.
    EXPECT_GE(oneShot.added.Count(), 4u);
    EXPECT_EQ(SimControl::GetStats().receivers, 2u);

    // A receiver that freezes the camera from the acquisition thread: it is the
    // last frame anyone gets.
    FreezingSink freezer(camera, 1);
    ASSERT_TRUE(camera->RegisterImgStreamInput(&freezer, FreezingSink::Callback, 0));
    for (int i = 0; i < 2000 && SimControl::GetState().grabbing; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_FALSE(SimControl::GetState().grabbing);
    EXPECT_EQ(freezer.calls.load(), 1);
    EXPECT_EQ(sink.Frames().back().frameCounter, SimControl::GetStats().lastCounter);
    EXPECT_TRUE(camera->Uninitialize(0));
    EXPECT_EQ(SimControl::GetStats().receivers, 0u);
}
