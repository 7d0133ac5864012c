// The camera machine's preview window under a private X server: the picture the window shows,
// its flips, that it follows the camera, and how the window preview ends: stopped, aborted, or
// its display lost.

#include "tests/mt_proxy/camera/machinetestutil.h"

#include "msl/mipc/mthread.h"
#include "mt_proxy/camera/misc/cimagereceivers.h"
#include "platform/trace/tracecapture.h"
#include "platform/vyx/simcontrol.h"
#include "previewscreen.h"

#include <chrono>
#include <thread>
#include <tuple>

using namespace machinetest;
using namespace vyx::test;

namespace {

constexpr int kWidth = 64, kHeight = 32; // the simulated camera's frame
constexpr int kScale = 5;                // and its window's size

// The pattern phase k the preview window shows: at the centre of each camera pixel's block (the
// frame stretched to the client area) (offset(x, y) + k) mod 251 through the palette; -1 when
// it shows no such picture.
int Decode(const PreviewScreen& screen, unsigned long long window,
           const std::function<uint32_t(int x, int y)>& offset) {
    constexpr uint32_t modulus = 251;
    int clientWidth = 0, clientHeight = 0;
    if (!screen.ClientSize(window, &clientWidth, &clientHeight))
        return -1;
    const std::vector<Rgb> shot = screen.Screenshot(window, clientWidth, clientHeight);
    if (shot.size() != size_t(clientWidth * clientHeight))
        return -1;
    auto at = [&](int x, int y) {
        return shot[(2 * y + 1) * clientHeight / (2 * kHeight) * clientWidth +
                    (2 * x + 1) * clientWidth / (2 * kWidth)];
    };
    const int first = at(0, 0) == PaletteColour(0)     ? 0
                      : at(0, 0) == PaletteColour(255) ? 255
                                                       : at(0, 0).red;
    const uint32_t k = (uint32_t(first) + modulus - offset(0, 0) % modulus) % modulus;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            if (!(at(x, y) == PaletteColour((offset(x, y) + k) % modulus)))
                return -1;
    return int(k);
}

} // namespace

class PreviewWindowMachine : public CameraMachineTest {
protected:
    void SetUp() override {
        CameraMachineTest::SetUp();
        if (DesktopSession::Get().Display().empty())
            GTEST_SKIP() << "no X server for the preview window: "
                         << DesktopSession::Get().Failure();
    }
    void TearDown() override {
        if (machine != nullptr && machine->IsPreviewRunning())
            machine->StopPreview();
        CameraMachineTest::TearDown();
    }
    // Starts the window preview on one emitted frame (manual mode), with the given flips of
    // the probe configuration (a table update of one channel brings them).
    bool Start(bool flipX, bool flipY) {
        EXPECT_EQ(Send("probe.config",
                       "[General]\nChannels=imagewidth\n[Camera]\nflip_x=" + std::to_string(flipX) +
                           "\nflip_y=" + std::to_string(flipY) + "\n"),
                  "");
        std::thread camera(EmitFrameOnceReceivers, 2);
        const bool started =
            machine->StartPreview(&reply, {20, 30, kWidth * kScale, kHeight * kScale});
        camera.join();
        return started;
    }
    // Polls the window preview as the host does, at every wake-up and at least every 20 ms,
    // until `done` answers true; false when UpdatePreview fails or 20 s pass first.
    bool Poll(const std::function<bool()>& done) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < end) {
            const int seen = notifier.wakeUps.load();
            if (!machine->UpdatePreview())
                return false;
            if (done())
                return true;
            notifier.WaitBeyond(seen, 20);
        }
        return false;
    }
    // The preview window once it is on screen; 0 when it does not come.
    unsigned long long Shown(const PreviewScreen& screen) {
        unsigned long long window = 0;
        Poll([&] {
            return machine->GetPreviewWindow().IsWindowReady() &&
                   (window = screen.FindWindow("Preview")) != 0;
        });
        return window;
    }
    std::string Text() { return Take(reply); }
    MOutputChannel reply{31};
};

TEST_F(PreviewWindowMachine, ShowsTheFrameWithItsFlips) {
    OpenSmallCamera("manual");
    for (const auto& [flipX, flipY] :
         {std::pair{false, false}, {true, false}, {false, true}, {true, true}}) {
        SCOPED_TRACE(testing::Message() << "flip_x=" << flipX << " flip_y=" << flipY);
        ASSERT_TRUE(Start(flipX, flipY)) << Text();
        EXPECT_TRUE(machine->IsPreviewRunning());
        PreviewScreen screen(DesktopSession::Get().Display());
        const unsigned long long window = Shown(screen);
        int left = 0, top = 0, width = 0, height = 0;
        ASSERT_TRUE(screen.Geometry(window, &left, &top, &width, &height));
        EXPECT_EQ(std::make_tuple(left, top, width, height),
                  std::make_tuple(20, 30, kWidth * kScale, kHeight * kScale));
        // Flip x puts the last row on top, flip y the last column on the left.
        const int k = Decode(screen, window, [&](int x, int y) {
            return (flipX ? kHeight - 1 - y : y) * kWidth + (flipY ? kWidth - 1 - x : x);
        });
        EXPECT_EQ(k, int(Vyx::SimControl::GetStats().lastCounter % 251));
        EXPECT_TRUE(machine->StopPreview());
        EXPECT_FALSE(machine->IsPreviewRunning());
        EXPECT_EQ(Text(), "");
    }
}

using PreviewWindowMachineConcurrency = PreviewWindowMachine;

TEST_F(PreviewWindowMachineConcurrency, FollowsTheSimulatedCamera) {
    OpenSmallCamera("realtime"); // 50 frames per second
    ASSERT_TRUE(machine->StartPreview(&reply, {0, 0, kWidth * kScale, kHeight * kScale})) << Text();
    PreviewScreen screen(DesktopSession::Get().Display());
    const unsigned long long window = Shown(screen);
    // Each screenshot must be exactly one frame of the camera's pattern: its phase is the frame
    // counter modulo 251, and the frame shown one of the newest, the counter of that residue
    // nearest to the camera's last one.
    int64_t counters[2] = {-1, -1};
    auto shoot = [&](int i) {
        const int k = Decode(screen, window, [](int x, int y) { return uint32_t(y * kWidth + x); });
        const uint32_t seen = Vyx::SimControl::GetStats().lastCounter;
        const int behind = int((seen + 251 - uint32_t(k)) % 251);
        return k < 0 ? -1 : counters[i] = int64_t(seen) - (behind <= 125 ? behind : behind - 251);
    };
    ASSERT_GE(shoot(0), 0) << "the window shows no frame of the camera";
    // A second one 0.5 s later, once it shows another frame.
    const auto later = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
    EXPECT_TRUE(Poll([&] {
        return std::chrono::steady_clock::now() >= later && shoot(1) != counters[0];
    })) << "the window still shows the frame of 0.5 s before";
    EXPECT_GT(counters[1], counters[0]);
    EXPECT_TRUE(machine->StopPreview());
    EXPECT_EQ(Text(), "");
}

TEST_F(PreviewWindowMachine, ASecondStartSharesTheReceiverAndAProbesystemChangeAbortsAll) {
    OpenSmallCamera("realtime");
    ASSERT_TRUE(machine->StartPreview(&reply, {0, 0, kWidth, kHeight})) << Text();
    // The second start waits for a frame of its own, through the first one's receiver, and
    // takes over the window preview's reply channel.
    MOutputChannel second(33);
    EXPECT_TRUE(machine->StartPreview(&second, {0, 0, kWidth, kHeight}));
    EXPECT_EQ(CImageReceivers_Count(), 2u) << "the axes callback and the window's one receiver";

    MOutputChannel memoryReply(32);
    const std::string segment = UniqueName("vyxwindow");
    EXPECT_TRUE(machine->StartPreviewMemory(&memoryReply, 0, segment, "Camera:1"));
    EXPECT_EQ(Run(&Machine::NewMMachProbesystemUnloadCommand), kCapabilities);
    EXPECT_EQ(Take(second), "0033\terror \"aborted\"\r\n");
    EXPECT_EQ(Text(), "");
    EXPECT_EQ(Take(memoryReply), "0000\tevent \"preview begin\"\r\n0032\terror \"aborted\"\r\n");
    EXPECT_FALSE(machine->IsPreviewRunning());
    EXPECT_FALSE(machine->IsPreviewMemoryRunning("Camera:1"));
    EXPECT_FALSE(machine->UpdatePreview());
    EXPECT_EQ(CImageReceivers_Count(), 1u) << "only the axes callback";
}

#if !defined(_WIN32)
// Only X can be missing or go away; a Windows session always has its desktop.
TEST_F(PreviewWindowMachine, WithoutADisplayTheStartFailsALostOneEndsOnlyThePreview) {
    PrivateXServer server;
    ASSERT_FALSE(server.Display().empty()) << server.Failure();
    OpenSmallCamera("realtime");
    const std::pair<const char*, const char*> cases[] = {
        {nullptr, "Open(): no X display for the preview window: DISPLAY is not set"},
        {"unix:54321", "Open(): cannot connect to the X display \"unix:54321\" named by DISPLAY"},
    };
    for (const auto& [value, reason] : cases) {
        SCOPED_TRACE(reason);
        DisplayVariable none(value); // null: DISPLAY unset
        vyx::trace::TraceCapture capture;
        const int threads = MThread_GetRegisteredCount();
        EXPECT_FALSE(Start(false, false));
        EXPECT_EQ(Text(), "0031\terror \"failed to open preview window\"\r\n");
        EXPECT_EQ(capture.CountErrTrace(reason), 1) << capture.Dump();
        EXPECT_EQ(MThread_GetRegisteredCount(), threads) << "no window thread may be left";
        EXPECT_FALSE(machine->IsPreviewRunning());
        EXPECT_EQ(CImageReceivers_Count(), 1u) << "the window's receiver must be gone";
    }

    // A display that goes away under the window.
    {
        DisplayVariable privateDisplay(server.Display().c_str());
        ASSERT_TRUE(machine->StartPreview(&reply, {0, 0, kWidth, kHeight})) << Text();
    }
    ASSERT_TRUE(Poll([&] { return machine->GetPreviewWindow().IsWindowReady(); }));
    server.Kill();
    // The window thread meets the lost display; the next update after that fails.
    EXPECT_FALSE(Poll([] { return false; }));
    EXPECT_EQ(Text(), "0031\terror \"failed to update preview window\"\r\n");
    EXPECT_TRUE(machine->StopPreview());
    EXPECT_EQ(CImageReceivers_Count(), 1u);
    // The machine goes on, and a new window opens on a display that is there.
    ASSERT_TRUE(machine->StartPreview(&reply, {0, 0, kWidth, kHeight})) << Text();
    EXPECT_TRUE(Poll([&] { return machine->GetPreviewWindow().IsWindowReady(); }));
    EXPECT_TRUE(machine->StopPreview());
}
#endif
