// Receivers of the camera sensor that come and go while frames flow. Frames arrive on the
// camera library's thread, so the suite ends in Concurrency and also runs under ThreadSanitizer.

#include "tests/mt_proxy/camera/camerasensortestutil.h"

#include <atomic>
#include <thread>

using namespace cameratest;

using CameraSensorReceiversConcurrency = CameraSensorTest;

// The frames' timing, clip and attributes are the camera's (its own tests), their pixels the
// measurement's; here the sensor hands every frame to every receiver while others come and go.
TEST_F(CameraSensorReceiversConcurrency, ReceiversComeAndGoWhileFramesFlow) {
    ASSERT_NE(Create("FrameRate = 200\n"), nullptr);
    FrameRecorder steady;
    CImageReceiver permanent = steady.Receiver();
    ASSERT_TRUE(camera->SetPropertyData(0, &permanent));
    ASSERT_TRUE(camera->SetMeasurement(true));

    // A receiver that notes any call after its removal returned; it is freed right after.
    struct Visitor {
        std::atomic<int> calls{0};
        std::atomic<bool> removed{false};
        std::atomic<int>* late = nullptr;
        static void Callback(void* context, const Vyx::CImgBuffer*, uint32_t) {
            auto* self = static_cast<Visitor*>(context);
            if (self->removed.load())
                self->late->fetch_add(1);
            self->calls.fetch_add(1);
        }
    };
    std::atomic<int> late{0}, failures{0};
    auto churn = [&]() {
        for (int i = 0; i < 15; ++i) {
            auto visitor = std::make_unique<Visitor>();
            visitor->late = &late;
            CImageReceiver receiver{&Visitor::Callback, visitor.get()};
            if (!camera->SetPropertyData(0, &receiver)) {
                failures.fetch_add(1);
                continue;
            }
            // Bounded wait for the first frame; a slow machine only makes it wait longer.
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
            while (visitor->calls.load() == 0 && std::chrono::steady_clock::now() < deadline)
                std::this_thread::yield();
            if (!camera->SetPropertyData(1, &receiver) || visitor->calls.load() == 0)
                failures.fetch_add(1);
            visitor->removed.store(true);
        }
    };
    std::thread one(churn), two(churn);
    one.join();
    two.join();
    const size_t seen = steady.Count();
    ASSERT_TRUE(steady.WaitFor(seen + 3));
    ASSERT_TRUE(camera->SetMeasurement(false));
    ASSERT_TRUE(camera->SetPropertyData(1, &permanent));

    EXPECT_EQ(late.load(), 0);
    EXPECT_EQ(failures.load(), 0);
    // The receiver that stayed saw every frame, in order.
    std::vector<RecordedFrame> f = steady.Frames();
    for (size_t i = 0; i < f.size(); ++i)
        ASSERT_EQ(f[i].counter, i + 1);
}
