// Parsing INI text held in memory and writing it back: line classification in its order,
// the document flags, and the failure messages.

#include "msl/mutil/minidata.h"
#include "platform/trace/tracecapture.h"

#include <gtest/gtest.h>

namespace {

struct ParseCase {
    const char* what;
    uint32_t flags;
    std::string input;
    bool ok;
    std::string content; // GetContentString afterwards
    std::string message; // GetMessage afterwards
};

void PrintTo(const ParseCase& c, std::ostream* out) {
    *out << c.what;
}

class MIniDataParse : public testing::TestWithParam<ParseCase> {};

TEST_P(MIniDataParse, GivesExactTextAndMessage) {
    const ParseCase& c = GetParam();
    vyx::trace::TraceCapture capture;
    MIniData ini(c.flags);
    EXPECT_EQ(ini.SetContentString(c.input), c.ok);
    EXPECT_EQ(ini.GetContentString(), c.content);
    EXPECT_EQ(ini.GetMessage(), c.message);
    if (!c.ok) {
        // The parser's line (unless it is a deletion failure), then the caller's.
        std::vector<std::string> lines = capture.ErrTrace();
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.back(), "MIniData::SetContentString(): parse_line() failed");
        if (c.message.find("deleting previous version") == std::string::npos) {
            ASSERT_EQ(lines.size(), 2u) << capture.Dump();
            EXPECT_EQ(lines[0], "MIniData::parse_line(): " + c.message.substr(0, 70));
        }
    } else {
        EXPECT_TRUE(capture.ErrTrace().empty()) << capture.Dump();
    }
    EXPECT_FALSE(ini.IsInSync());
}

const std::string kLong60 = "k" + std::string(59, 'x'); // longer than the 50 shown

INSTANTIATE_TEST_SUITE_P(
    Cases, MIniDataParse,
    testing::Values(ParseCase{"empty", 0, "", true, "", ""},
                    ParseCase{"leading comment and blank lines are written first", 0,
                              "; note\n\n \t\n[b]\nk=1\n[A]\n", true,
                              "; note\n\n \t\n[A]\n[b]\nk=1\n", ""},
                    ParseCase{"sections in byte order, prefix first", 0,
                              "[b]\n[probe]\n[A]\n[Probe_1]\n[a]\n[Probe]\n[\xC3\xA9]\n", true,
                              "[A]\n[Probe]\n[Probe_1]\n[a]\n[b]\n[probe]\n[\xC3\xA9]\n", ""},
                    ParseCase{"comments of every kind and blank lines stay in their section", 0,
                              "[A]\n# h\nx=1\n\n  ; c\n/ s\n* t\n\ty = 2 ; mm\n", true,
                              "[A]\n# h\nx=1\n\n  ; c\n/ s\n* t\n\ty = 2 ; mm\n", ""},
                    ParseCase{"CR, LF and CR LF end lines; LF CR ends two", 0,
                              "[A]\r\nx=1\ry=2\n\rz=3", true, "[A]\nx=1\ny=2\n\nz=3\n", ""},
                    ParseCase{"text ends at its first zero byte", 0,
                              std::string("[A]\nx=1\0y=2\n", 12), true, "[A]\nx=1\n", ""},
                    ParseCase{"header text after ']' is kept", 0, "[ A ]  ; note\n", true,
                              "[ A ]  ; note\n", ""},
                    ParseCase{"entry before the first section", 0, "; c\nkey=1\n[A]\n", false,
                              "; c\n", "Possible entry \"key=1\" found before first section"},
                    ParseCase{"lenient flags do not allow entries before a section", 0x03, "word\n",
                              false, "", "Possible entry \"word\" found before first section"},
                    ParseCase{"indented header before a section", 0, "  [A]\n", false, "",
                              "Possible entry \"  [A]\" found before first section"},
                    ParseCase{"no '=' (shown up to 50 characters)", 0, "[S]\n" + kLong60 + "\n",
                              false, "[S]\n",
                              "No '=' found in \"" + kLong60.substr(0, 50) + "\" in section [S]"},
                    ParseCase{"no name before '='", 0, "[S]\n  = v\n", false, "[S]\n",
                              "No entry name found before '=' in \"  = v\" in section [S]"},
                    ParseCase{"header without ']'", 0, "[S]\n[A\n", false, "[S]\n",
                              "no matching ']' found in \"[A\""},
                    ParseCase{"lone '['", 0, "[\n", false, "", "no matching ']' found in \"[\""},
                    ParseCase{"lenient entries without '=' or name", MINIDATA_LENIENT_ENTRIES,
                              "[A]\nword  \n=v\n", true, "[A]\nword  \n=v\n", ""}),
    [](const testing::TestParamInfo<ParseCase>& info) {
        return "case" + std::to_string(info.index);
    });

TEST(MIniDataParseTrace, LongMessageIsTracedShortened) {
    vyx::trace::TraceCapture capture;
    MIniData ini;
    std::string line = "x" + std::string(100, '=');
    EXPECT_FALSE(ini.SetContentString(line));
    EXPECT_EQ(ini.GetMessage(), "Possible entry \"" + line + "\" found before first section");
    EXPECT_EQ(capture.ErrTrace().at(0),
              "MIniData::parse_line(): " + ini.GetMessage().substr(0, 70));
}

TEST(MIniDataParseTrace, FailedReplacementNamesTheLineThatStoppedIt) {
    vyx::trace::TraceCapture capture;
    MIniData ini(MINIDATA_REPLACE_SECTIONS | MINIDATA_REPLACE_ENTRIES);
    EXPECT_FALSE(ini.SetContentString("[A]\n=x\nk=1\nk=2\n"));
    EXPECT_EQ(capture.ErrTrace(),
              (std::vector<std::string>{"MIniDataSectionT::DeleteEntry(): no entry name in \"=x\"",
                                        "MIniData::parse_line(): DeleteEntry() failed",
                                        "MIniData::SetContentString(): parse_line() failed"}));
}

TEST(MIniDataParseModel, NamesValuesAndOrder) {
    MIniData ini(MINIDATA_LENIENT_ENTRIES);
    ASSERT_TRUE(ini.SetContentString("[ A ]\n\tmy key \t=  v ; c\nz=1\nb=2\nbare  \n=e\n"));
    EXPECT_TRUE(ini.HasSection(" A "));
    EXPECT_FALSE(ini.HasSection("A"));
    std::vector<std::string> names;
    EXPECT_TRUE(ini.GetEntryNames(" A ", names));
    EXPECT_EQ(names, (std::vector<std::string>{"", "b", "bare", "my key", "z"}));
    std::string value;
    EXPECT_TRUE(ini.GetStringEntry(" A ", "my key", value));
    EXPECT_EQ(value, "  v ; c");
    EXPECT_TRUE(ini.GetStringEntry(" A ", "bare", value));
    EXPECT_EQ(value, "bare  "); // a lenient line without '=' is its own value
    EXPECT_TRUE(ini.GetStringEntry(" A ", "", value));
    EXPECT_EQ(value, "e");
    EXPECT_FALSE(ini.GetEntryNames("missing", names));
    EXPECT_TRUE(names.empty());
}

} // namespace
