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

constexpr int kWidth = 64, kHeight = 32; // the simulated camera's frame
constexpr int kScale = 5;                // and its window's size

// The pattern phase k the preview window shows: at the centre of each picture pixel's block
// (the width x height picture stretched to the client area) (offset(x, y) + k) mod `modulus`
// through the palette (0 blue, 255 red, grey between); -1 when it shows no such picture.
int Decode(const PreviewScreen& screen, unsigned long long window, int width, int height,
           uint32_t modulus, const std::function<uint32_t(int x, int y)>& offset) {
    auto colour = [](uint32_t v) {
        return v == 0 ? Rgb{0, 0, 255} : v == 255 ? Rgb{255, 0, 0} : Rgb{int(v), int(v), int(v)};
    };
    int clientWidth = 0, clientHeight = 0;
    if (!screen.ClientSize(window, &clientWidth, &clientHeight))
        return -1;
    const std::vector<Rgb> shot = screen.Screenshot(window, clientWidth, clientHeight);
    if (shot.size() != size_t(clientWidth * clientHeight))
        return -1;
    auto at = [&](int x, int y) {
        return shot[(2 * y + 1) * clientHeight / (2 * height) * clientWidth +
                    (2 * x + 1) * clientWidth / (2 * width)];
    };
    const int first = at(0, 0) == colour(0) ? 0 : at(0, 0) == colour(255) ? 255 : at(0, 0).red;
    const uint32_t k = (uint32_t(first) + modulus - offset(0, 0) % modulus) % modulus;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            if (!(at(x, y) == colour((offset(x, y) + k) % modulus)))
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
    bool Start(bool flipX, bool flipY) {
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
    // Two screenshots of the window of a width x height picture, `scale` times its size, the
    // second taken 0.5 s after the first and once it shows another frame: each must be
    // exactly one frame of the camera's pattern. Their phases in k[0] and k[1]; the simulated
    // camera's last counter right after each in seen[0] and seen[1].
    void ExpectLive(int width, int height, int scale, uint32_t modulus,
                    const std::function<uint32_t(int x, int y)>& offset, int k[2],
                    uint32_t seen[2]) {
        ASSERT_TRUE(machine->StartPreview(&reply, {0, 0, width * scale, height * scale})) << Text();
        PreviewScreen screen(DesktopSession::Get().Display());
        const unsigned long long window = Shown(screen);
        auto shoot = [&](int i) {
            k[i] = Decode(screen, window, width, height, modulus, offset);
            seen[i] = Vyx::SimControl::GetStats().lastCounter;
            return k[i];
        };
        ASSERT_GE(shoot(0), 0) << "the window shows no frame of the camera";
        const auto later = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
        EXPECT_TRUE(Poll([&] {
            return std::chrono::steady_clock::now() >= later && shoot(1) != k[0];
        })) << "the window still shows the frame of 0.5 s before";
        EXPECT_GE(k[1], 0) << "the window shows no frame of the camera";
        EXPECT_TRUE(machine->StopPreview());
        EXPECT_EQ(Text(), "");
    }
    std::string Text() { return Take(reply); }
    std::unique_ptr<DisplayVariable> display;
    MOutputChannel reply{31};
};

TEST_F(PreviewWindowMachine, ShowsTheFrameWithItsFlips) {
    OpenSim("manual");
    for (const auto& [flipX, flipY] : {std::pair{false, false}, {true, false}, {false, true}}) {
        SCOPED_TRACE(testing::Message() << "flip_x=" << flipX << " flip_y=" << flipY);
        ASSERT_TRUE(Start(flipX, flipY)) << Text();
        EXPECT_TRUE(machine->IsPreviewRunning());
        // Flip x puts the last row on top, flip y the last column on the left.
        PreviewScreen screen(DesktopSession::Get().Display());
        const int k = Decode(screen, Shown(screen), kWidth, kHeight, 251, [&](int x, int y) {
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
    OpenSim("realtime"); // 50 frames per second
    int k[2] = {-1, -1};
    uint32_t seen[2] = {};
    ExpectLive(
        kWidth, kHeight, kScale, 251, [](int x, int y) { return uint32_t(y * kWidth + x); }, k,
        seen);
    // The phase is the frame counter modulo 251, and the frame shown one of the newest: the
    // counter of that residue nearest to the camera's last one.
    auto counter = [&](int i) {
        const int behind = int((seen[i] + 251 - uint32_t(k[i])) % 251);
        return int64_t(seen[i]) - (behind <= 125 ? behind : behind - 251);
    };
    EXPECT_GT(counter(1), counter(0));
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
    // The test camera's 512 x 512 frames at their size: its pattern is (x + y + frame id)
    // mod 255.
    int k[2] = {-1, -1};
    uint32_t seen[2] = {};
    ExpectLive(
        512, 512, 1, 255, [](int x, int y) { return uint32_t(x + y); }, k, seen);
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
