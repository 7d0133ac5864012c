// Getters, setters and section operations of INI documents, their messages, the in-sync
// state and copies.

#include "msl/mutil/minidata.h"
#include "platform/trace/tracecapture.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>

namespace {

MIniData Parsed(const std::string& text, uint32_t flags = 0) {
    MIniData ini(flags);
    EXPECT_TRUE(ini.SetContentString(text));
    return ini;
}

TEST(MIniDataGetters, ConvertLikeTheCLibrary) {
    MIniData ini = Parsed("[A]\nx = 1.5 ; mm\nws=  \t42abc\nabc=abc\nempty=\nhex=0x10\n"
                          "big=3000000000\nsmall=-3000000000\nhuge=99999999999999999999\n"
                          "exp=-2.5e-3x\nsign=+7\n");
    double d = 9;
    EXPECT_TRUE(ini.GetDoubleEntry("A", "x", d));
    EXPECT_EQ(d, 1.5);
    EXPECT_TRUE(ini.GetDoubleEntry("A", "exp", d));
    EXPECT_EQ(d, -2.5e-3);
    d = 9;
    EXPECT_FALSE(ini.GetDoubleEntry("A", "abc", d));
    EXPECT_EQ(d, 0);

    int32_t l = 7;
    EXPECT_TRUE(ini.GetLongEntry("A", "ws", l)); // leading white space, trailing text
    EXPECT_EQ(l, 42);
    l = 7;
    EXPECT_FALSE(ini.GetLongEntry("A", "abc", l)); // nothing convertible stores 0
    EXPECT_EQ(l, 0);
    l = 7;
    EXPECT_FALSE(ini.GetLongEntry("A", "empty", l));
    EXPECT_EQ(l, 0);
    EXPECT_TRUE(ini.GetLongEntry("A", "hex", l)); // base 10: only the "0"
    EXPECT_EQ(l, 0);
    EXPECT_TRUE(ini.GetLongEntry("A", "sign", l));
    EXPECT_EQ(l, 7);
    EXPECT_TRUE(ini.GetLongEntry("A", "big", l));
    EXPECT_EQ(l, INT32_MAX);
    EXPECT_TRUE(ini.GetLongEntry("A", "small", l));
    EXPECT_EQ(l, INT32_MIN);
    EXPECT_TRUE(ini.GetLongEntry("A", "huge", l));
    EXPECT_EQ(l, INT32_MAX);

    long long ll = 0;
    EXPECT_TRUE(ini.GetLongLongEntry("A", "big", ll));
    EXPECT_EQ(ll, 3000000000LL);
    EXPECT_TRUE(ini.GetLongLongEntry("A", "huge", ll));
    EXPECT_EQ(ll, LLONG_MAX);

    std::string s;
    EXPECT_TRUE(ini.GetStringEntry("A", "x", s));
    EXPECT_EQ(s, " 1.5 ; mm");
    EXPECT_TRUE(ini.GetStringEntry("A", "empty", s));
    EXPECT_EQ(s, "");
}

TEST(MIniDataGetters, AbsentNamesLeaveOutputAndDocumentAlone) {
    vyx::trace::TraceCapture capture;
    MIniData ini = Parsed("[A]\nx=1\n");
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
    EXPECT_EQ(ini.GetContentString(), "[A]\nx=1\n");
    EXPECT_TRUE(capture.ErrTrace().empty());
}

TEST(MIniDataGetters, TrailingBlanksOfTheRequestedNameAreIgnoredButNotByHasEntry) {
    MIniData ini = Parsed("[A]\nx=1\n");
    int32_t l = 0;
    EXPECT_TRUE(ini.GetLongEntry("A", "x \t", l));
    EXPECT_EQ(l, 1);
    EXPECT_TRUE(ini.HasEntry("A", "x"));
    EXPECT_FALSE(ini.HasEntry("A", "x "));
    EXPECT_FALSE(ini.HasEntry("B", "x"));
    EXPECT_FALSE(ini.DeleteEntry("A", "x "));
    EXPECT_TRUE(ini.SetLongEntry("A", "x  ", 2));
    EXPECT_EQ(ini.GetContentString(), "[A]\nx=2\n");
}

TEST(MIniDataSetters, WriteExactTexts) {
    MIniData ini;
    EXPECT_TRUE(ini.SetStringEntry("New", "k", "v"));
    EXPECT_EQ(ini.GetContentString(), "[New]\nk=v\n");

    ASSERT_TRUE(ini.SetContentString("[A]\nx = 1.5 ; mm\n; end\n"));
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
    const char* op = "MIniDataT<struct MIniDataCaseSensitiveCompare>::";
    vyx::trace::TraceCapture capture;
    MIniData ini;
    EXPECT_FALSE(ini.SetStringEntry("A", "#x", "v"));
    EXPECT_EQ(ini.GetMessage(), "cannot add comment as an entry: \"#x=v\"");
    EXPECT_FALSE(ini.SetDoubleEntry("A", " ;x", 1.5));
    EXPECT_EQ(ini.GetMessage(), "cannot add comment as an entry: \" ;x=1.5\"");
    EXPECT_FALSE(ini.SetLongEntry("A", "/x", -3));
    EXPECT_EQ(ini.GetMessage(), "cannot add comment as an entry: \"/x=-3\"");
    EXPECT_FALSE(ini.SetLongLongEntry("A", "*x", 1LL << 40));
    EXPECT_EQ(ini.GetMessage(), "cannot add comment as an entry: \"*x=1099511627776\"");
    for (const char* bad : {"", "  ", " x", "[x", "a=b", "a\nb", "a\rb"}) {
        EXPECT_FALSE(ini.SetStringEntry("A", bad, "v")) << bad;
        EXPECT_EQ(ini.GetMessage(), std::string("invalid entry name \"") + bad + "\"");
    }
    EXPECT_FALSE(ini.SetLongEntry("a]b", "k", 1));
    EXPECT_EQ(ini.GetMessage(), "invalid section name \"a]b\"");
    EXPECT_FALSE(ini.AddSection("x\ny"));
    EXPECT_EQ(ini.GetContentString(), ""); // nothing created on the way

    std::vector<std::string> lines = capture.ErrTrace();
    ASSERT_EQ(lines.size(), 15u) << capture.Dump();
    EXPECT_EQ(lines[0],
              std::string(op) + "SetStringEntry(): cannot add comment as an entry: \"#x=v\"");
    EXPECT_EQ(lines[1],
              std::string(op) + "SetDoubleEntry(): cannot add comment as an entry: \" ;x=1.5\"");
    EXPECT_EQ(lines[2],
              std::string(op) + "SetLongEntry(): cannot add comment as an entry: \"/x=-3\"");
    EXPECT_EQ(lines[3], std::string(op) +
                            "SetLongEntry(): cannot add comment as an entry: \"*x=1099511627776\"");
    EXPECT_EQ(lines[4], std::string(op) + "SetStringEntry(): invalid entry name \"\"");
    EXPECT_EQ(lines[11], "MIniData::add_new_section(): invalid section name \"a]b\"");
    EXPECT_EQ(lines[12], "MIniData::SetLongEntry(): add_new_section() failed");
    EXPECT_EQ(lines[14], "MIniData::AddSection(): add_new_section() failed");
}

TEST(MIniDataSetters, ExistingLenientEntryCanStillBeSet) {
    MIniData ini = Parsed("[A]\n=old\n", MINIDATA_LENIENT_ENTRIES);
    EXPECT_TRUE(ini.SetStringEntry("A", "", "new"));
    EXPECT_EQ(ini.GetContentString(), "[A]\n=new\n");
}

TEST(MIniDataSections, ListCountAddDeleteRename) {
    vyx::trace::TraceCapture capture;
    MIniData ini = Parsed("[b]\nz=1\n; c\na=2\n[A] ; old note\nk=v\n# tail\n");
    std::vector<std::string> names;
    ini.GetSectionNames(names);
    EXPECT_EQ(names, (std::vector<std::string>{"A", "b"}));
    EXPECT_TRUE(ini.GetEntryNames("b", names));
    EXPECT_EQ(names, (std::vector<std::string>{"a", "z"}));
    EXPECT_EQ(ini.GetEntryCount("b"), 2u);
    EXPECT_EQ(ini.GetEntryCount("none"), 0u);

    EXPECT_TRUE(ini.AddSection("b"));
    EXPECT_TRUE(ini.AddSection("B"));
    EXPECT_TRUE(ini.DeleteEntry("b", "z"));
    EXPECT_FALSE(ini.DeleteEntry("b", "z"));
    EXPECT_FALSE(ini.DeleteEntry("c", "z"));
    EXPECT_FALSE(ini.DeleteSection("c"));
    EXPECT_FALSE(ini.RenameSection("A", "b"));
    EXPECT_FALSE(ini.RenameSection("c", "d"));
    EXPECT_TRUE(ini.RenameSection("A", "c"));
    EXPECT_TRUE(ini.SetStringEntry("c", "n", "1")); // the renamed section keeps working
    EXPECT_TRUE(ini.DeleteEntry("c", "k"));
    EXPECT_TRUE(ini.DeleteSection("B"));
    EXPECT_EQ(ini.GetContentString(), "[b]\n; c\na=2\n[c]\n# tail\nn=1\n");
    EXPECT_EQ(capture.ErrTrace(),
              (std::vector<std::string>{
                  "MIniDataSectionT::DeleteEntry(): entry \"z\" not found in entry_map",
                  "MIniData::DeleteEntry(): MIniDataSectionT::DeleteEntry() failed (\"b\",\"z\")",
                  "MIniData::DeleteEntry(): section \"c\" not found",
                  "MIniData::DeleteSection(): section \"c\" not found",
                  "MIniDataT<struct MIniDataCaseSensitiveCompare>::RenameSection(): section \"b\" "
                  "already exists",
                  "MIniDataT<struct MIniDataCaseSensitiveCompare>::RenameSection(): the source "
                  "section \"c\" doesn't exists"}));
}

TEST(MIniDataCopy, CopiesContentFlagsMessageAndStaysIndependent) {
    MIniData source(MINIDATA_REPLACE_ENTRIES | MINIDATA_FLUSH_ON_SAVE);
    ASSERT_TRUE(source.SetContentString("; lead\n[B]\nx=1\nx=2\n[A]\n"));
    EXPECT_FALSE(source.SetStringEntry("A", "#c", "v")); // leaves a message
    MIniData copy(source);
    EXPECT_EQ(copy.GetContentString(), "; lead\n[A]\n[B]\nx=2\n");
    EXPECT_EQ(copy.GetFlags(), source.GetFlags());
    EXPECT_EQ(copy.GetMessage(), source.GetMessage());
    EXPECT_EQ(copy.IsNewFile(), source.IsNewFile());
    EXPECT_TRUE(copy.SetStringEntry("A", "y", "3"));
    EXPECT_EQ(source.GetContentString(), "; lead\n[A]\n[B]\nx=2\n");

    MIniData assigned;
    assigned = copy;
    EXPECT_EQ(assigned.GetContentString(), copy.GetContentString());
    MIniData& self = assigned;
    assigned = self;
    EXPECT_EQ(assigned.GetContentString(), copy.GetContentString());
}

} // namespace
