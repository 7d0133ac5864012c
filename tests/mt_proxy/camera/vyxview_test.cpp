// The viewer vyxview, run as a program under the private X server, on a preview memory that
// the test makes as the module makes one: the picture it shows, its statistics, histogram and
// pointer value, its zoom, the PNG file it saves, and how it refuses what it cannot show.

#include "host/vyxview/viewerlayout.h"
#include "msl/mipc/mnamedevent.h"
#include "previewscreen.h"
#include "tests/support/childprocess.h"
#include "tests/support/rawsegment.h"
#include "tests/support/testsupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <png.h>

#include <cstdlib>
#include <filesystem>
#include <unistd.h>

using namespace vyx::test;

namespace {

// The known picture: 64 x 32 pixels of 12 bits in 2 bytes, every column x holding 64 x; its
// shades (the upper 8 bits) 4 x, so that the histogram has a full bar at every fourth shade.
constexpr int kWidth = 64, kHeight = 32;
uint16_t Value(int x) {
    return uint16_t(64 * x);
}

// The values of a kWidth x kHeight 16-bit grey PNG file, row after row, in the bytes of the
// machine's 16-bit numbers; empty for any other. (A 16-bit file without a gamma of its own is
// read as linear: the values come unchanged.)
std::string ReadPng16(const std::string& path) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    std::string values(kWidth * kHeight * 2, '\0');
    const bool read = png_image_begin_read_from_file(&image, path.c_str()) &&
                      image.format == PNG_FORMAT_LINEAR_Y && image.width == kWidth &&
                      image.height == kHeight &&
                      png_image_finish_read(&image, nullptr, values.data(), 0, nullptr);
    png_image_free(&image);
    return read ? values : "";
}

} // namespace

// The viewer itself, with DISPLAY set: arguments display, segment, output folder, zoom.
VYX_TEST_CHILD(RunVyxview) {
    setenv("DISPLAY", args.at(0).c_str(), 1);
    execl(VYX_VYXVIEW_PATH, "vyxview", args.at(1).c_str(), "--size", "64x32", "--bpp", "2",
          "--bits", "12", "--output", args.at(2).c_str(), "--zoom", args.at(3).c_str(), nullptr);
    return 127;
}

class VyxviewTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (DesktopSession::Get().Display().empty())
            GTEST_SKIP() << "no X server: " << DesktopSession::Get().Failure();
        screen = std::make_unique<PreviewScreen>(DesktopSession::Get().Display());
        ASSERT_TRUE(screen->Connected());
        ASSERT_NE(picture.bytes, nullptr);
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x)
                picture.Put<uint16_t>(2 * (y * kWidth + x), Value(x));
        event = MNamedEvent_Create((picture.name + ".event").c_str());
        ASSERT_NE(event, nullptr);
    }
    void TearDown() override { MNamedEvent_Close(event); }

    // The viewer's window shows the picture at `zoom` from its top left corner.
    bool ShowsPicture(int zoom) const {
        const std::vector<Rgb> shot = screen->Screenshot(window, kWidth * zoom, kHeight * zoom);
        if (shot.size() != size_t(kWidth * kHeight * zoom * zoom))
            return false;
        for (size_t i = 0; i < shot.size(); ++i) {
            const unsigned shade = Value(int(i % (kWidth * zoom)) / zoom) >> 4; // 0 to 252
            if (!(shot[i] == RgbOf(shade == 0 ? 0x0000ff : 0x010101u * shade)))
                return false;
        }
        return true;
    }
    // The window shows `text` as one of its status lines, below a picture `top` high.
    bool ShowsText(const std::string& text, int top) const {
        int width = 0, height = 0;
        const std::vector<Rgb> cells = screen->RenderText(text, vyxview::kFont, vyxview::kText,
                                                          vyxview::kBackground, &width, &height);
        const int left = vyxview::kMargin, lines = vyxview::kStatusLines;
        const std::vector<Rgb> shot =
            screen->Screenshot(window, left + width, top + vyxview::kMargin + lines * height);
        if (cells.empty() || shot.empty())
            return false;
        const int shotWidth = left + width;
        for (int line = 0; line < lines; ++line) {
            const int y0 = top + vyxview::kMargin + line * height;
            bool same = true;
            for (int y = 0; y < height && same; ++y)
                for (int x = 0; x < width && same; ++x)
                    same = shot[(y0 + y) * shotWidth + left + x] == cells[y * width + x];
            if (same)
                return true;
        }
        return false;
    }

    RawSegment picture{"vyxview", kWidth* kHeight * 2};
    MNamedEvent* event = nullptr;
    std::unique_ptr<PreviewScreen> screen;
    ScreenWindowId window = 0;
    TempDir output;
};

TEST_F(VyxviewTest, ShowsAKnownPictureWithItsStatisticsZoomsAndSavesIt) {
    ChildProcess viewer("RunVyxview",
                        {DesktopSession::Get().Display(), picture.name, output.Path(), "2"});
    ASSERT_TRUE(
        WaitUntil([&] { return (window = screen->FindWindow("vyxview " + picture.name)); }));
    // The viewer takes the picture as a client does: it resets the event.
    ASSERT_EQ(MNamedEvent_Signal(event), 1);
    ASSERT_TRUE(WaitUntil([&] { return MNamedEvent_Wait(event, 0) == 0; }));
    EXPECT_TRUE(WaitUntil([&] { return ShowsPicture(2); })) << "the picture at zoom 2";
    const int top = 2 * kHeight;
    EXPECT_TRUE(WaitUntil([&] { return ShowsText("frame 1 ", top); }));
    EXPECT_TRUE(WaitUntil([&] { return ShowsText("min 0  mean 2016.00  max 4032", top); }));
    // Bars at every fourth shade, each holding the fullest count: full height; none between.
    int letterWidth = 0, lineHeight = 0;
    screen->RenderText("x", vyxview::kFont, 0, 0, &letterWidth, &lineHeight);
    const int bars = vyxview::HistogramTop(top, lineHeight);
    const int width = vyxview::kMargin + 256;
    const std::vector<Rgb> shot =
        screen->Screenshot(window, width, bars + vyxview::kHistogramHeight);
    ASSERT_FALSE(shot.empty());
    size_t wrong = 0;
    for (int shade = 0; shade < 256; ++shade)
        for (int y : {bars, bars + vyxview::kHistogramHeight - 1})
            wrong += !(shot[y * width + vyxview::kMargin + shade] ==
                       RgbOf(shade % 4 == 0 ? vyxview::kBar : vyxview::kBackground));
    EXPECT_EQ(wrong, 0u);

    // The value under the pointer, at picture pixel (10, 5).
    screen->MovePointer(window, 21, 11);
    EXPECT_TRUE(WaitUntil([&] { return ShowsText("zoom 2  (10, 5) = 640", top); }));
    screen->SendKey(window, "minus");
    EXPECT_TRUE(WaitUntil([&] { return ShowsPicture(1) && ShowsText("zoom 1", kHeight); }));

    // The PNG file holds the values themselves, in 16 bits, and nothing half-written is left.
    screen->SendKey(window, "s");
    const std::string saved = output.File(picture.name + "-1.png");
    ASSERT_TRUE(WaitUntil([&] { return std::filesystem::exists(saved); }));
    EXPECT_EQ(ReadPng16(saved), picture.Bytes()); // as SetUp wrote them
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(output.Path()), {}), 1);

    screen->SendKey(window, "q");
    EXPECT_EQ(viewer.Wait(), 0);
}

TEST_F(VyxviewTest, RefusesWhatItCannotShow) {
    const std::string missing = UniqueName("vyxview");
    const struct {
        std::vector<std::string> args;
        int status;
        const char* says;
    } cases[] = {
        {{missing, "--size", "64x32"}, 1, "no shared-memory object"},
        {{picture.name, "--size", "64x33", "--bpp", "2"}, 1, "the picture needs 4224"},
        {{picture.name, "--size", "64"}, 2, "--size must be WIDTHxHEIGHT"},
        {{picture.name, "--size", "64x32", "--zoom", "3"}, 2, "--zoom must be one of"},
        {{"--help"}, 0, "receive probe.hardware"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.says);
        const int status =
            RunProgram(VYX_VYXVIEW_PATH, c.args, output.File("out"), output.File("err"));
        EXPECT_EQ(status, c.status);
        EXPECT_THAT(ReadFileBytes(output.File("out")) + ReadFileBytes(output.File("err")),
                    testing::HasSubstr(c.says));
    }
}
