#include "mt_proxy/camera/mmachabstract/mpreviewwindow.h"

#include "msl/mipc/mthread.h"
#include "platform/trace/tracecapture.h"
#include "previewscreen.h"

#include <gtest/gtest.h>

#include <cerrno>

using namespace vyx::test;

namespace {

constexpr int kWidth = 8; // the test picture: 8 bytes per row, 4 rows
constexpr int kRows = 4;

// Top left 0 (blue), top right 255 (red), every other pixel a grey level of its own, so that
// any flip or shift shows.
std::vector<std::uint8_t> TestPicture() {
    std::vector<std::uint8_t> pixels(kWidth * kRows);
    for (int row = 0; row < kRows; ++row)
        for (int column = 0; column < kWidth; ++column)
            pixels[row * kWidth + column] = static_cast<std::uint8_t>(10 + row * 60 + column * 7);
    pixels[0] = 0;
    pixels[kWidth - 1] = 255;
    return pixels;
}

// Hands the window a frame of `pixels` as the camera does (kWidth x kRows of `bytes` bytes and
// `bits` bits per pixel); true when the window took a copy.
bool Offer(MPreviewWindow& window, const std::vector<std::uint8_t>& pixels, int bytes = 1,
           int bits = 8) {
    Vyx::CImgBuffer frame;
    frame.rowPitch = kWidth;
    frame.rows = kRows;
    frame.bytesPerPixel = std::uint64_t(bytes);
    frame.bitsPerPixel = std::uint32_t(bits);
    frame.pixels = pixels.data();
    return window.Picture().Offer(frame);
}

// Every test here runs on the private X server, as DISPLAY names it.
class PreviewWindowOnXvfb : public ::testing::Test {
protected:
    void SetUp() override {
        if (DesktopSession::Get().Display().empty())
            GTEST_SKIP() << "no X server for the preview window: "
                         << DesktopSession::Get().Failure();
        screen = std::make_unique<PreviewScreen>(DesktopSession::Get().Display());
        ASSERT_TRUE(screen->Connected());
    }

    // Opens `window` on a copy of `pixels` and waits until it is on screen and has drawn what
    // its first exposure asked for (Update returns after a paint that follows everything
    // queued before it); its X id, 0 on failure.
    ScreenWindowId Show(MPreviewWindow& window, MMachPreviewPlacement placement) {
        window.Picture().Want();
        int error = 0;
        if (!Offer(window, pixels) || !window.Open({nullptr, 0, 0, 0, 0}, placement) ||
            !WaitUntil([&window] { return window.IsWindowReady(); }) || !Offer(window, pixels) ||
            !window.Update(&error))
            return 0;
        return screen->FindWindow("Preview");
    }

    // The source pixel each block of a width x height window shows must be the one a
    // stretched picture puts there, and the corners must show the picture's corners, so that
    // it covers the whole client area.
    void ExpectPicture(ScreenWindowId id, const std::vector<std::uint8_t>& pixels, int width,
                       int height) {
        std::vector<Rgb> shot = screen->Screenshot(id, width, height);
        ASSERT_EQ(shot.size(), static_cast<size_t>(width * height));
        auto source = [&](int row, int column) { return pixels[row * kWidth + column]; };
        for (int row = 0; row < kRows; ++row)
            for (int column = 0; column < kWidth; ++column) {
                int x = (2 * column + 1) * width / (2 * kWidth);
                int y = (2 * row + 1) * height / (2 * kRows);
                EXPECT_EQ(shot[y * width + x], PaletteColour(source(row, column)))
                    << "block " << row << "," << column << " at " << x << "," << y;
            }
        EXPECT_EQ(shot[0], PaletteColour(source(0, 0)));
        EXPECT_EQ(shot[width * height - 1], PaletteColour(source(kRows - 1, kWidth - 1)));
    }

    std::unique_ptr<PreviewScreen> screen;
    std::vector<std::uint8_t> pixels = TestPicture(); // what the windows show
    const MPreviewImageDescription picture{pixels.data(), kWidth, kRows, 0, 0};
};

using MPreviewWindowTest = PreviewWindowOnXvfb;

// The machine's tests show the camera's frames with every flip, placed as asked.
TEST_F(MPreviewWindowTest, DrawsItsCopyOfTheNewestFrameAndRestretchesOnResize) {
    MPreviewWindow window;
    ScreenWindowId id = Show(window, {0, 0, 600, 400});
    ASSERT_NE(id, 0u);
    int width = 0, height = 0, error = 0;
    ASSERT_TRUE(screen->ClientSize(id, &width, &height));
    // The camera reuses its buffer for a later frame: the window still shows its copy.
    const std::vector<std::uint8_t> first = pixels;
    for (std::uint8_t& pixel : pixels)
        pixel = static_cast<std::uint8_t>(255 - pixel);
    ASSERT_TRUE(window.Update(&error)) << error;
    ExpectPicture(id, first, width, height);

    // It has drawn its copy: the next frame is copied, and none after it until it drew that.
    ASSERT_TRUE(Offer(window, pixels));
    EXPECT_FALSE(Offer(window, std::vector<std::uint8_t>(pixels.size(), 128)));
    ASSERT_TRUE(window.Update(&error)) << error;
    ExpectPicture(id, pixels, width, height);
    EXPECT_TRUE(window.Picture().IsWanted());

    // Resized by the user: the picture fills the new client area.
    screen->Resize(id, 120, 90);
    ASSERT_TRUE(Offer(window, pixels));
    ASSERT_TRUE(window.Update(&error)) << error;
    ExpectPicture(id, pixels, 120, 90);
    // A 12-bit camera: the upper eight of its bits show.
    std::vector<std::uint8_t> wide;
    for (std::uint8_t pixel : first)
        for (int byte : {(pixel << 4 | 0xf) & 0xff, pixel >> 4})
            wide.push_back(std::uint8_t(byte));
    ASSERT_TRUE(Offer(window, wide, 2, 12));
    ASSERT_TRUE(window.Update(&error)) << error;
    ExpectPicture(id, first, 120, 90);
    // Closed, it copies no frame.
    EXPECT_TRUE(window.Close());
    EXPECT_FALSE(Offer(window, pixels));
}

// The window thread's life: one per process, the close message, the join, and a window that
// the window manager closes first.
using MPreviewWindowConcurrency = PreviewWindowOnXvfb;

TEST_F(MPreviewWindowConcurrency, OneWindowPerProcessEndedByCloseOrTheDestructor) {
    vyx::trace::TraceCapture capture;
    int threads = MThread_GetRegisteredCount();
    MPreviewWindow window, other;
    ASSERT_NE(Show(window, {0, 0, 64, 32}), 0u);
    EXPECT_FALSE(window.Open(picture, {0, 0, 64, 32}));
    EXPECT_FALSE(other.Open(picture, {0, 0, 64, 32}));
    EXPECT_EQ(capture.CountErrTrace("Open(): preview window thread already running"), 2);
    EXPECT_EQ(MThread_GetRegisteredCount(), threads + 1);
    EXPECT_TRUE(window.Close());
    EXPECT_FALSE(window.IsThreadRunning());
    EXPECT_EQ(MThread_GetRegisteredCount(), threads);
    EXPECT_EQ(screen->FindWindow("Preview"), 0u);
    EXPECT_TRUE(window.Close()); // nothing left to close

    {
        MPreviewWindow unclosed;
        ASSERT_NE(Show(unclosed, {0, 0, 64, 32}), 0u);
    }
    // A close right after the open, before, while or after the thread shows the window, does
    // not wait forever.
    for (int i = 0; i < 10; ++i) {
        MPreviewWindow quick;
        ASSERT_TRUE(quick.Open(picture, {0, 0, 16, 8}));
        EXPECT_TRUE(quick.Close());
    }
    EXPECT_EQ(MThread_GetRegisteredCount(), threads);
    EXPECT_EQ(screen->FindWindow("Preview"), 0u);
}

TEST_F(MPreviewWindowConcurrency, ClosedByTheWindowManager) {
    MPreviewWindow window;
    ScreenWindowId id = Show(window, {0, 0, 64, 32});
    ASSERT_NE(id, 0u);
    screen->SendDeleteWindow(id);
    ASSERT_TRUE(WaitUntil([&window] { return window.IsWindowGone(); }));
    EXPECT_TRUE(WaitUntil([this] { return screen->FindWindow("Preview") == 0; }));
    EXPECT_TRUE(window.IsThreadRunning()); // until Close joins it
    int error = 0;
    EXPECT_FALSE(window.Update(&error));
    EXPECT_EQ(error, ENOTCONN);
    EXPECT_TRUE(window.Close());
}

} // namespace
