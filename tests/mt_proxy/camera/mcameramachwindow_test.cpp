// The camera machine's preview window on the simulated camera, under a private X server:
// the picture the window shows, its flips, and how the window preview ends.

#include "tests/mt_proxy/camera/machinetestutil.h"

#include "msl/mutil/minidata.h"
#include "mt_proxy/camera/misc/cimagereceivers.h"
#include "platform/vyx/simcontrol.h"
#include "previewscreen.h"

#include <chrono>
#include <thread>

using namespace machinetest;
using vyx::test::DesktopSession;
using vyx::test::DisplayVariable;
using vyx::test::PreviewScreen;
using vyx::test::Rgb;

namespace {

constexpr int kWidth = 64, kHeight = 32, kScale = 5; // the window is 5 times the picture

Rgb Colour(uint32_t value) {
    if (value == 0)
        return {0, 0, 255};
    if (value == 255)
        return {255, 0, 0};
    return {int(value), int(value), int(value)};
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
        WriteCameraConfig("Width=64\nHeight=32\nClipWidthMin=8\nClipHeightMin=2\nMode=manual\n");
        OpenMachine();
        LoadCamera();
    }
    void TearDown() override {
        if (machine != nullptr && machine->IsPreviewRunning())
            machine->StopPreview();
        CameraMachineTest::TearDown();
    }
    // Starts the window preview on one emitted frame, with the given flips.
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
        const bool started = machine->StartPreview(
            &reply, MMachPreviewPlacement{20, 30, kWidth * kScale, kHeight * kScale});
        camera.join();
        return started;
    }
    std::string Text() { return Take(reply); }
    std::unique_ptr<DisplayVariable> display;
    MOutputChannel reply{31};
};

TEST_F(PreviewWindowMachine, ShowsTheFrameStretchedThroughThePaletteWithItsFlips) {
    for (const auto& [flipX, flipY] : {std::pair{false, false}, {true, false}, {false, true}}) {
        SCOPED_TRACE(std::string("flip_x=") + (flipX ? "1" : "0") +
                     " flip_y=" + (flipY ? "1" : "0"));
        ASSERT_TRUE(Start(flipX, flipY)) << Text();
        EXPECT_TRUE(machine->IsPreviewRunning());
        // Shown, then redrawn from what the camera wrote (Update waits for the paint).
        for (int i = 0; i < 5000 && !machine->GetPreviewWindow().IsWindowReady(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        ASSERT_TRUE(machine->UpdatePreview());
        PreviewScreen screen(DesktopSession::Get().Display());
        const auto window = screen.FindWindow("Preview");
        ASSERT_NE(window, 0u);
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

TEST_F(PreviewWindowMachine, ProbesystemChangeAbortsWindowAndPreviewMemory) {
    ASSERT_TRUE(Start(false, false));
    MOutputChannel memoryReply(32);
    const std::string segment = vyx::test::UniqueName("vyxwindow");
    // The window's receiver is there already: the preview memory's is the third.
    std::thread second(EmitFrameOnceReceivers, 3);
    EXPECT_TRUE(machine->StartPreviewMemory(&memoryReply, 0, segment, "Camera:1"));
    second.join();
    EXPECT_EQ(Run(&Machine::NewMMachProbesystemUnloadCommand),
              "0000\tevent \"capabilities changed\"\r\n");
    EXPECT_EQ(Text(), "0031\terror \"aborted\"\r\n");
    EXPECT_EQ(Take(memoryReply), "0000\tevent \"preview begin\"\r\n0032\terror \"aborted\"\r\n");
    EXPECT_FALSE(machine->IsPreviewRunning());
    EXPECT_FALSE(machine->IsPreviewMemoryRunning("Camera:1"));
    EXPECT_FALSE(machine->UpdatePreview());
}

#if !defined(_WIN32)
// Only X can be missing; a Windows session always has its desktop.
TEST_F(PreviewWindowMachine, WithoutADisplayTheStartFails) {
    DisplayVariable none(nullptr);
    EXPECT_FALSE(Start(false, false));
    EXPECT_EQ(Text(), "0031\terror \"failed to open preview window\"\r\n");
    EXPECT_FALSE(machine->IsPreviewRunning());
    EXPECT_EQ(CImageReceivers_Count(), 1u) << "the window's receiver must be gone";
}
#endif
