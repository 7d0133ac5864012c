// Getters, setters and section operations of INI documents and their messages.

#include "msl/mutil/minidata.h"
#include "platform/trace/tracecapture.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

using Lines = std::vector<std::string>;

MIniData Parsed(const std::string& text, uint32_t flags = 0) {
    MIniData ini(flags);
    EXPECT_TRUE(ini.SetContentString(text));
    return ini;
}

TEST(MIniDataGetters, ConvertLikeTheCLibrary) {
    const MIniData ini = Parsed("[A]\nx = 1.5 ; mm\nws=  \t42abc\nabc=abc\nempty=\n"
                                "big=3000000000\nsmall=-3000000000\nhuge=99999999999999999999\n"
                                "exp=-2.5e-3x\nsign=+7\nzero=0x10\n");
    // Leading white space skipped, trailing text ignored, nothing convertible gives 0 and
    // false, 32-bit values saturate.
    const struct {
        const char* entry;
        bool ok;
        int32_t l;
        long long ll;
        double d;
    } cases[] = {
        {"x", true, 1, 1, 1.5},
        {"ws", true, 42, 42, 42},
        {"abc", false, 0, 0, 0},
        {"empty", false, 0, 0, 0},
        {"big", true, INT32_MAX, 3000000000LL, 3e9},
        {"small", true, INT32_MIN, -3000000000LL, -3e9},
        {"huge", true, INT32_MAX, LLONG_MAX, 1e20},
        {"exp", true, -2, -2, -2.5e-3},
        {"sign", true, 7, 7, 7},
        {"zero", true, 0, 0, 16}, // base 10 for integers
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.entry);
        int32_t l = 5;
        long long ll = 5;
        double d = 5;
        EXPECT_EQ(ini.GetLongEntry("A", c.entry, l), c.ok);
        EXPECT_EQ(ini.GetLongLongEntry("A", c.entry, ll), c.ok);
        EXPECT_EQ(ini.GetDoubleEntry("A", c.entry, d), c.ok);
        EXPECT_EQ(l, c.l);
        EXPECT_EQ(ll, c.ll);
        EXPECT_EQ(d, c.d);
    }
    std::string s;
    EXPECT_TRUE(ini.GetStringEntry("A", "x", s));
    EXPECT_EQ(s, " 1.5 ; mm");
}

// Names keep their inner and outer blanks, values are the rest of the line after '='; absent
// names leave output and document alone; trailing blanks of a requested entry name are ignored,
// except by HasEntry and DeleteEntry. (Lenient lines without '=' or name are the golden
// files', lenient_*: nothing in the module reads them.)
TEST(MIniDataGetters, LookupsByName) {
    vyx::trace::TraceCapture capture;
    MIniData ini = Parsed("[A]\nx=1\n[ B ]\n\tmy key \t=  v ; c\nz=1\nb=2\n");
    EXPECT_TRUE(ini.HasSection(" B "));
    EXPECT_FALSE(ini.HasSection("B"));
    Lines names;
    EXPECT_TRUE(ini.GetEntryNames(" B ", names));
    EXPECT_EQ(names, (Lines{"b", "my key", "z"})); // by name, not file order
    std::string value;
    EXPECT_TRUE(ini.GetStringEntry(" B ", "my key", value));
    EXPECT_EQ(value, "  v ; c");
    EXPECT_FALSE(ini.GetEntryNames("missing", names));
    EXPECT_TRUE(names.empty());
    double d = 5;
    int32_t l = 5;
    long long ll = 5;
    std::string s = "keep";
    EXPECT_FALSE(ini.GetDoubleEntry("B", "x", d));
    EXPECT_FALSE(ini.GetLongEntry("A", "y", l));
    EXPECT_FALSE(ini.GetLongLongEntry("a", "x", ll)); // names are case-sensitive
    EXPECT_FALSE(ini.GetStringEntry("A", "X", s));
    EXPECT_EQ(d + l + ll, 15);
    EXPECT_EQ(s, "keep");
    EXPECT_TRUE(capture.ErrTrace().empty());
    EXPECT_TRUE(ini.GetLongEntry("A", "x \t", l));
    EXPECT_EQ(l, 1);
    EXPECT_TRUE(ini.HasEntry("A", "x"));
    EXPECT_FALSE(ini.HasEntry("A", "x "));
    EXPECT_FALSE(ini.DeleteEntry("A", "x "));
    EXPECT_TRUE(ini.SetLongEntry("A", "x  ", 2));
    EXPECT_EQ(ini.GetContentString(), "[ B ]\n\tmy key \t=  v ; c\nz=1\nb=2\n[A]\nx=2\n");
}

TEST(MIniDataSetters, WriteExactTexts) {
    MIniData ini = Parsed("[A]\nx = 1.5 ; mm\n; end\n");
    EXPECT_TRUE(ini.SetDoubleEntry("A", "x", 2));
    EXPECT_TRUE(ini.SetDoubleEntry("A", "d1", 0.1));
    EXPECT_TRUE(ini.SetDoubleEntry("A", "d2", 1e20));
    EXPECT_TRUE(ini.SetDoubleEntry("A", "d3", -1.0 / 3));
    EXPECT_TRUE(ini.SetDoubleEntry("A", "d4", 1e-7));
    EXPECT_TRUE(ini.SetLongEntry("A", "l", INT32_MIN));
    EXPECT_TRUE(ini.SetLongLongEntry("A", "ll", LLONG_MAX));
    EXPECT_TRUE(ini.SetStringEntry("A", "s", " a ; b "));
    EXPECT_TRUE(ini.SetStringEntry("A", "e", ""));
    EXPECT_TRUE(ini.SetStringEntry("0", "k", "first"));
    EXPECT_EQ(ini.GetContentString(), "[0]\nk=first\n"
                                      "[A]\nx =2\n; end\nd1=0.10000000000000001\nd2=1e+20\n"
                                      "d3=-0.33333333333333331\nd4=9.9999999999999995e-08\n"
                                      "l=-2147483648\nll=9223372036854775807\ns= a ; b \ne=\n");
    double d = 0;
    EXPECT_TRUE(ini.GetDoubleEntry("A", "d3", d));
    EXPECT_EQ(d, -1.0 / 3); // 17 digits read back exactly
}

TEST(MIniDataSetters, RefuseCommentNamesAndNamesThatWouldNotReadBack) {
    const std::string op = "MIniDataT<struct MIniDataCaseSensitiveCompare>::";
    vyx::trace::TraceCapture capture;
    MIniData ini;
    EXPECT_FALSE(ini.SetStringEntry("A", "#x", "v"));
    EXPECT_EQ(ini.GetMessage(), "cannot add comment as an entry: \"#x=v\"");
    EXPECT_FALSE(ini.SetDoubleEntry("A", " ;x", 1.5));
    EXPECT_FALSE(ini.SetLongEntry("A", "/x", -3));
    EXPECT_FALSE(ini.SetLongLongEntry("A", "*x", 1LL << 40));
    EXPECT_EQ(ini.GetMessage(), "cannot add comment as an entry: \"*x=1099511627776\"");
    for (const char* bad : {"", "  ", " x", "[x", "a=b", "a\nb", "a\rb"}) {
        EXPECT_FALSE(ini.SetStringEntry("A", bad, "v")) << bad;
        EXPECT_EQ(ini.GetMessage(), std::string("invalid entry name \"") + bad + "\"");
    }
    EXPECT_FALSE(ini.SetLongEntry("a]b", "k", 1));
    EXPECT_EQ(ini.GetMessage(), "invalid section name \"a]b\"");
    EXPECT_EQ(ini.GetContentString(), ""); // nothing created on the way

    // The trace repeats each message after the setter's name; sections have their own.
    Lines lines = capture.ErrTrace();
    ASSERT_EQ(lines.size(), 13u) << capture.Dump();
    EXPECT_EQ(lines[1], op + "SetDoubleEntry(): cannot add comment as an entry: \" ;x=1.5\"");
    EXPECT_EQ(Lines(lines.begin() + 11, lines.end()),
              (Lines{"MIniData::add_new_section(): invalid section name \"a]b\"",
                     "MIniData::SetLongEntry(): add_new_section() failed"}));
}

TEST(MIniDataSections, ListAndDelete) {
    vyx::trace::TraceCapture capture;
    MIniData ini = Parsed("[b]\nz=1\n; c\na=2\n[A] ; old note\nk=v\n# tail\n");
    Lines names;
    ini.GetSectionNames(names);
    EXPECT_EQ(names, (Lines{"A", "b"}));
    EXPECT_TRUE(ini.GetEntryNames("b", names));
    EXPECT_EQ(names, (Lines{"a", "z"}));

    EXPECT_TRUE(ini.DeleteEntry("b", "z"));
    EXPECT_FALSE(ini.DeleteEntry("b", "z"));
    EXPECT_FALSE(ini.DeleteEntry("c", "z"));
    EXPECT_FALSE(ini.DeleteSection("c"));
    EXPECT_TRUE(ini.DeleteEntry("A", "k"));
    EXPECT_EQ(ini.GetContentString(), "[A] ; old note\n# tail\n[b]\n; c\na=2\n");
    EXPECT_EQ(
        capture.ErrTrace(),
        (Lines{"MIniDataSectionT::DeleteEntry(): entry \"z\" not found in entry_map",
               "MIniData::DeleteEntry(): MIniDataSectionT::DeleteEntry() failed (\"b\",\"z\")",
               "MIniData::DeleteEntry(): section \"c\" not found",
               "MIniData::DeleteSection(): section \"c\" not found"}));
}
} // namespace
