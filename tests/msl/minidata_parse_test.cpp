// Parsing INI text held in memory and writing it back: line classification in its order,
// the document flags, and the failure messages. (Files go through the golden tests.)

#include "msl/mutil/minidata.h"
#include "platform/trace/tracecapture.h"

#include <gtest/gtest.h>

namespace {

using Lines = std::vector<std::string>;

TEST(MIniDataParse, GivesExactTextMessageAndTrace) {
    const std::string long60 = "k" + std::string(59, 'x'); // longer than the 50 shown
    const struct {
        std::string input;
        bool ok;
        std::string content;      // GetContentString afterwards
        std::string message = ""; // GetMessage afterwards
    } cases[] = {
        // Names compare as unsigned bytes, a prefix first.
        {"[b]\n[\xC3\xA9]\n[Probe_1]\n[Probe]\n", true, "[Probe]\n[Probe_1]\n[b]\n[\xC3\xA9]\n"},
        {"[A]\r\nx=1\ry=2\n\rz=3", true, "[A]\nx=1\ny=2\n\nz=3\n", ""}, // LF CR ends two
        {std::string("[A]\nx=1\0y=2\n", 12), true, "[A]\nx=1\n", ""},   // ends at a zero
        {"  [A]\n", false, "", "Possible entry \"  [A]\" found before first section"},
        {"[S]\n" + long60 + "\n", false, "[S]\n",
         "No '=' found in \"" + long60.substr(0, 50) + "\" in section [S]"},
        {"[S]\n  = v\n", false, "[S]\n",
         "No entry name found before '=' in \"  = v\" in section [S]"},
        {"[S]\n[A\n", false, "[S]\n", "no matching ']' found in \"[A\""},
        {"[\n", false, "", "no matching ']' found in \"[\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        vyx::trace::TraceCapture capture;
        MIniData ini;
        EXPECT_EQ(ini.SetContentString(c.input), c.ok);
        EXPECT_EQ(ini.GetContentString(), c.content);
        EXPECT_EQ(ini.GetMessage(), c.message);
        EXPECT_FALSE(ini.IsInSync());
        Lines lines = capture.ErrTrace();
        if (c.ok) {
            EXPECT_TRUE(lines.empty()) << capture.Dump();
            continue;
        }
        // The parser's line (shortened to 70 characters), then the caller's.
        ASSERT_GE(lines.size(), 2u);
        EXPECT_EQ(lines[0], "MIniData::parse_line(): " + c.message.substr(0, 70));
        EXPECT_EQ(lines.back(), "MIniData::SetContentString(): parse_line() failed");
    }
}

} // namespace
