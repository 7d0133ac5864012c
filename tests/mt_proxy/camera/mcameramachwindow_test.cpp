// The camera machine's preview window under a private X server: the picture the window shows,
// its flips, that it follows the camera (the simulated one and Aravis's test camera), and how
// the window preview ends: stopped, aborted, or its display lost.

#include "tests/mt_proxy/camera/machinetestutil.h"
#if !defined(_WIN32)
#include "tests/support/genicamtestsupport.h" // Aravis's test camera: Linux only
#endif

#include "msl/mutil/minidata.h"
#include "mt_proxy/camera/misc/cimagereceivers.h"
#include "platform/vyx/simcontrol.h"
#include "previewscreen.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

using namespace machinetest;
using vyx::test::DesktopSession;
using vyx::test::DisplayVariable;
using vyx::test::PreviewScreen;
using vyx::test::Rgb;

namespace {

constexpr int kWidth = 64, kHeight = 32, kScale = 5; // the flip test's window is 5 times larger

Rgb Colour(uint32_t value) {
    if (value == 0)
        return {0, 0, 255};
    if (value == 255)
        return {255, 0, 0};
    return {int(value), int(value), int(value)};
}

// The camera pattern of phase k as a window shows it at its pixel (x, y).
using Pattern = std::function<uint32_t(uint32_t k, int x, int y)>;

// The phase of the pattern a screenshot of a width x height window shows: read from its top
// left pixel (the patterns start there at k), and -1 unless every pixel is the pattern's of
// that phase.
int Decode(const std::vector<Rgb>& shot, int width, int height, const Pattern& pattern) {
    if (shot.size() != size_t(width * height))
        return -1;
    const Rgb first = shot[0];
    const int k = first == Rgb{0, 0, 255} ? 0 : first == Rgb{255, 0, 0} ? 255 : first.red;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            if (!(shot[y * width + x] == Colour(pattern(uint32_t(k), x, y))))
                return -1;
    return k;
}

} // namespace

class PreviewWindowMachine : public CameraMachineTest {
protected:
    void SetUp() override {
        CameraMachineTest::SetUp();
        if (DesktopSession::Get().Display().empty())
            GTEST_SKIP() << "no X server for the preview window: "
                         << DesktopSession::Get().Failure();
        display = std::make_unique<DisplayVariable>(DesktopSession::Get().Display().c_str());
    }
    void TearDown() override {
        if (machine != nullptr && machine->IsPreviewRunning())
            machine->StopPreview();
        CameraMachineTest::TearDown();
    }
    void OpenSim(const std::string& mode) {
        WriteCameraConfig("Width=64\nHeight=32\nClipWidthMin=8\nClipHeightMin=2\nMode=" + mode +
                          "\n");
        OpenMachine();
        LoadCamera();
    }
    // Starts the window preview on one emitted frame (manual mode), with the given flips.
    bool Start(bool flipX, bool flipY,
               MMachPreviewPlacement placement = {20, 30, kWidth* kScale, kHeight* kScale}) {
        // As a client changes the camera's probe configuration: receive, edit, send back.
        MOutputChannel out(7);
        std::unique_ptr<MMachReceiveCommand> received(
            machine->NewMMachReceiveCommand(&out, "probe.config"));
        MIniData config;
        EXPECT_TRUE(received != nullptr && config.SetContentString(received->GetData()));
        config.SetLongEntry("Camera", "flip_x", flipX);
        config.SetLongEntry("Camera", "flip_y", flipY);
        EXPECT_EQ(Run(&Machine::NewMMachSendCommand, "probe.config", config.GetContentString()),
                  "");
        std::thread camera(EmitFrameOnceReceivers, 2);
        const bool started = machine->StartPreview(&reply, placement);
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
    // Two screenshots of a width x height window, the second taken 0.5 s after the first and
    // once it shows another frame: each must be exactly one frame of the camera's pattern.
    // Their phases in `k1` and `k2`; the simulated camera's last frame counter right after
    // each in `seen1` and `seen2`.
    void ExpectLive(int width, int height, const Pattern& pattern, int& k1, int& k2,
                    uint32_t& seen1, uint32_t& seen2) {
        ASSERT_TRUE(machine->StartPreview(&reply, {0, 0, width, height})) << Text();
        PreviewScreen screen(DesktopSession::Get().Display());
        unsigned long long window = 0;
        auto shoot = [&](uint32_t& seen) {
            const int k = Decode(screen.Screenshot(window, width, height), width, height, pattern);
            seen = Vyx::SimControl::GetStats().lastCounter;
            return k;
        };
        ASSERT_TRUE(Poll([&] {
            return machine->GetPreviewWindow().IsWindowReady() &&
                   (window = screen.FindWindow("Preview")) != 0;
        }));
        k1 = shoot(seen1);
        ASSERT_GE(k1, 0) << "the window shows no frame of the camera";
        const auto later = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
        ASSERT_TRUE(Poll([&] {
            if (std::chrono::steady_clock::now() < later)
                return false;
            k2 = shoot(seen2);
            return k2 != k1;
        })) << "the window still shows the frame of 0.5 s before";
        EXPECT_GE(k2, 0) << "the window shows no frame of the camera";
        EXPECT_TRUE(machine->StopPreview());
        EXPECT_EQ(Text(), "");
    }
    std::string Text() { return Take(reply); }
    std::unique_ptr<DisplayVariable> display;
    MOutputChannel reply{31};
};

TEST_F(PreviewWindowMachine, ShowsTheFrameStretchedThroughThePaletteWithItsFlips) {
    OpenSim("manual");
    for (const auto& [flipX, flipY] : {std::pair{false, false}, {true, false}, {false, true}}) {
        SCOPED_TRACE(std::string("flip_x=") + (flipX ? "1" : "0") +
                     " flip_y=" + (flipY ? "1" : "0"));
        ASSERT_TRUE(Start(flipX, flipY)) << Text();
        EXPECT_TRUE(machine->IsPreviewRunning());
        PreviewScreen screen(DesktopSession::Get().Display());
        unsigned long long window = 0;
        ASSERT_TRUE(Poll([&] {
            return machine->GetPreviewWindow().IsWindowReady() &&
                   (window = screen.FindWindow("Preview")) != 0;
        }));
        // The picture fills the client area: the placement's size on a bare X server, less
        // the frame on Windows.
        int width = 0, height = 0;
        ASSERT_TRUE(screen.ClientSize(window, &width, &height));
        const std::vector<Rgb> shot = screen.Screenshot(window, width, height);
        ASSERT_EQ(shot.size(), size_t(width * height));
        // The centre of every picture pixel's block; flip x puts the last row on top, flip y
        // the last column on the left.
        const uint32_t counter = Vyx::SimControl::GetStats().lastCounter;
        size_t wrong = 0;
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) {
                const int sourceX = flipY ? kWidth - 1 - x : x;
                const int sourceY = flipX ? kHeight - 1 - y : y;
                const int column = (2 * x + 1) * width / (2 * kWidth);
                const int row = (2 * y + 1) * height / (2 * kHeight);
                const Rgb seen = shot[row * width + column];
                wrong +=
                    !(seen == Colour(Vyx::SimControl::PatternPixel(counter, sourceX, sourceY)));
            }
        EXPECT_EQ(wrong, 0u);
        EXPECT_TRUE(machine->StopPreview());
        EXPECT_FALSE(machine->IsPreviewRunning());
        EXPECT_EQ(Text(), "");
    }
}

using PreviewWindowMachineConcurrency = PreviewWindowMachine;

TEST_F(PreviewWindowMachineConcurrency, FollowsTheSimulatedCamera) {
    OpenSim("realtime"); // 50 frames per second
    int k1 = -1, k2 = -1;
    uint32_t seen1 = 0, seen2 = 0;
    ExpectLive(
        kWidth, kHeight, [](uint32_t k, int x, int y) { return (y * kWidth + x + k) % 251; }, k1,
        k2, seen1, seen2);
    // The phase is the frame counter modulo 251, and the frame shown one of the newest: the
    // counter of that residue nearest to the camera's last one.
    auto counter = [](int k, uint32_t seen) {
        const int behind = int((seen + 251 - uint32_t(k)) % 251);
        return int64_t(seen) - (behind <= 125 ? behind : behind - 251);
    };
    EXPECT_GT(counter(k2, seen2), counter(k1, seen1));
}

#if !defined(_WIN32)
TEST_F(PreviewWindowMachineConcurrency, FollowsAGenicamCamera) {
    using vyx::test::FakeGenicamCamera;
    const std::string why = FakeGenicamCamera::Unavailable(FakeGenicamCamera::Kind::InProcess);
    if (!why.empty())
        GTEST_SKIP() << why;
    FakeGenicamCamera fake; // inside this process: nothing to stop
    std::string failure;
    ASSERT_TRUE(fake.Start(FakeGenicamCamera::Kind::InProcess, failure)) << failure;
    std::filesystem::create_directories(host.File("camera"));
    vyx::test::WriteFileBytes(host.File("camera/vyxcamera.ini"), fake.Ini());
    OpenMachine();
    LoadCamera();
    // The test camera's 512 x 512 frames at a quarter of their size: its pattern is
    // (x + y + frame id) mod 255.
    int k1 = -1, k2 = -1;
    uint32_t seen1 = 0, seen2 = 0;
    ExpectLive(
        128, 128, [](uint32_t k, int x, int y) { return (4 * x + 4 * y + k) % 255; }, k1, k2, seen1,
        seen2);
}
#endif

TEST_F(PreviewWindowMachine, ASecondStartSharesTheReceiverAndAProbesystemChangeAbortsAll) {
    OpenSim("realtime");
    ASSERT_TRUE(machine->StartPreview(&reply, {0, 0, kWidth, kHeight})) << Text();
    // The second start waits for a frame of its own, through the first one's receiver, and
    // takes over the window preview's reply channel.
    MOutputChannel second(33);
    EXPECT_TRUE(machine->StartPreview(&second, {0, 0, kWidth, kHeight}));
    EXPECT_EQ(CImageReceivers_Count(), 2u) << "the axes callback and the window's one receiver";

    MOutputChannel memoryReply(32);
    const std::string segment = vyx::test::UniqueName("vyxwindow");
    EXPECT_TRUE(machine->StartPreviewMemory(&memoryReply, 0, segment, "Camera:1"));
    EXPECT_EQ(Run(&Machine::NewMMachProbesystemUnloadCommand),
              "0000\tevent \"capabilities changed\"\r\n");
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
TEST_F(PreviewWindowMachine, WithoutADisplayTheStartFails) {
    OpenSim("manual");
    DisplayVariable none(nullptr);
    EXPECT_FALSE(Start(false, false));
    EXPECT_EQ(Text(), "0031\terror \"failed to open preview window\"\r\n");
    EXPECT_FALSE(machine->IsPreviewRunning());
    EXPECT_EQ(CImageReceivers_Count(), 1u) << "the window's receiver must be gone";
}

TEST_F(PreviewWindowMachine, ALostDisplayEndsOnlyThePreview) {
    vyx::test::PrivateXServer server;
    ASSERT_FALSE(server.Display().empty()) << server.Failure();
    OpenSim("realtime");
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
