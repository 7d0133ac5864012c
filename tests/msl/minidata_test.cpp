// INI documents: text held in memory (parsing it, line classification in its order, the
// failure messages; getters, setters and section operations) and on disk (golden files, Open
// and Save, the in-sync state, copies, and the failures of each). (Reload and Close are the
// magazine and probe databases'.)

#include "msl/mutil/minidata.h"
#include "platform/trace/tracecapture.h"
#include "tests/support/testsupport.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <functional>
#include <sstream>
#include <tuple>

#ifndef VYX_INI_GOLDEN_DIR
#error "VYX_INI_GOLDEN_DIR must name the folder of the INI golden files"
#endif

namespace {

using Lines = std::vector<std::string>;
using vyx::test::ReadFileBytes;
using vyx::test::TempDir;
using vyx::test::WriteFileBytes;
using vyx::trace::TraceCapture;

MIniData Parsed(const std::string& text, uint32_t flags = 0) {
    MIniData ini(flags);
    EXPECT_TRUE(ini.SetContentString(text));
    return ini;
}

// Leading white space skipped, trailing text ignored, nothing convertible gives 0 and false,
// 32-bit values saturate; absent names (case-sensitive) leave the output alone; trailing blanks
// of a requested entry name are ignored. None of it traces.
TEST(MIniDataGetters, ConvertLikeTheCLibrary) {
    TraceCapture capture;
    const MIniData ini = Parsed("[A]\nx = 1.5 ; mm\nws=  \t42abc\nabc=abc\nempty=\n"
                                "big=3000000000\nsmall=-3000000000\nhuge=99999999999999999999\n"
                                "exp=-2.5e-3x\nsign=+7\nzero=0x10\n");
    const struct {
        const char* entry;
        bool ok;
        int32_t l;
        long long ll;
        double d;
        const char* section = "A";
    } cases[] = {
        {"x", true, 1, 1, 1.5},
        {"x \t", true, 1, 1, 1.5},
        {"ws", true, 42, 42, 42},
        {"abc", false, 0, 0, 0},
        {"empty", false, 0, 0, 0},
        {"big", true, INT32_MAX, 3000000000LL, 3e9},
        {"small", true, INT32_MIN, -3000000000LL, -3e9},
        {"huge", true, INT32_MAX, LLONG_MAX, 1e20},
        {"exp", true, -2, -2, -2.5e-3},
        {"sign", true, 7, 7, 7},
        {"zero", true, 0, 0, 16}, // base 10 for integers
        {"y", false, 5, 5, 5},
        {"X", false, 5, 5, 5},
        {"x", false, 5, 5, 5, "a"},
        {"x", false, 5, 5, 5, "B"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.section) + "/" + c.entry);
        int32_t l = 5;
        long long ll = 5;
        double d = 5;
        EXPECT_EQ((std::tuple{ini.GetLongEntry(c.section, c.entry, l),
                              ini.GetLongLongEntry(c.section, c.entry, ll),
                              ini.GetDoubleEntry(c.section, c.entry, d)}),
                  std::tuple(c.ok, c.ok, c.ok));
        EXPECT_EQ(std::tuple(l, ll, d), std::tuple(c.l, c.ll, c.d));
    }
    std::string s = "keep";
    EXPECT_FALSE(ini.GetStringEntry("A", "X", s));
    EXPECT_EQ(s, "keep");
    EXPECT_TRUE(ini.GetStringEntry("A", "x", s));
    EXPECT_EQ(s, " 1.5 ; mm");
    EXPECT_TRUE(capture.ErrTrace().empty()) << capture.Dump();
}

// Names keep their inner and outer blanks, values are the rest of the line after '='; trailing
// blanks of a requested entry name are not ignored by HasEntry and DeleteEntry. (Lenient lines
// without '=' or name are the golden files', lenient_*: nothing in the module reads them.)
TEST(MIniDataGetters, LookupsByName) {
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
    EXPECT_TRUE(ini.HasEntry("A", "x"));
    EXPECT_FALSE(ini.HasEntry("A", "x "));
    EXPECT_FALSE(ini.DeleteEntry("A", "x "));
    EXPECT_TRUE(ini.SetLongEntry("A", "x  ", 2));
    EXPECT_EQ(ini.GetContentString(), "[ B ]\n\tmy key \t=  v ; c\nz=1\nb=2\n[A]\nx=2\n");
}

TEST(MIniDataSetters, WriteExactTexts) {
    MIniData ini = Parsed("[A]\nx = 1.5 ; mm\n; end\n");
    for (auto [name, value] :
         {std::pair{"x", 2.0}, {"d1", 0.1}, {"d2", 1e20}, {"d3", -1.0 / 3}, {"d4", 1e-7}})
        EXPECT_TRUE(ini.SetDoubleEntry("A", name, value)) << name;
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
    TraceCapture capture;
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
    TraceCapture capture;
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
        TraceCapture capture;
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

// Golden files: every input under ini_golden/ is loaded with Open under the flags its
// manifest line gives; the document text and, after Save, the bytes on disk must equal the
// expected files byte for byte. Failing inputs must give their exact message.
std::string Golden(const std::string& name) {
    return ReadFileBytes(std::string(VYX_INI_GOLDEN_DIR) + "/" + name);
}

TEST(MIniDataGolden, LoadAndSaveGiveExactBytes) {
    std::istringstream manifest(Golden("cases.txt"));
    std::string line;
    int count = 0;
    while (std::getline(manifest, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        std::istringstream fields(line);
        std::string id, inputName, flags, result;
        fields >> id >> inputName >> flags >> result;
        SCOPED_TRACE(id);
        ++count;
        const std::string input = Golden(inputName);
        const std::string content = Golden(id + ".content");
        TempDir dir;
        const std::string path = dir.File("doc.ini");
        ASSERT_TRUE(WriteFileBytes(path, input));

        TraceCapture capture;
        MIniData ini(static_cast<uint32_t>(std::strtoul(flags.c_str(), nullptr, 16)));
        ASSERT_EQ(ini.Open(path), result == "ok") << capture.Dump();
        EXPECT_EQ(ini.GetContentString(), content);
        EXPECT_EQ(ini.IsOpen(), result == "ok");
        if (result != "ok") {
            EXPECT_EQ(ini.GetMessage(), Golden(id + ".message"));
            ASSERT_FALSE(capture.ErrTrace().empty());
            EXPECT_EQ(capture.ErrTrace().back().rfind("MIniData::Open(", 0), 0u) << capture.Dump();
            EXPECT_EQ(ReadFileBytes(path), input); // a failed load changes nothing
            continue;
        }
        EXPECT_TRUE(ini.IsInSync());
        EXPECT_FALSE(ini.IsNewFile());
        EXPECT_TRUE(capture.ErrTrace().empty()) << capture.Dump();
        ASSERT_TRUE(ini.Save()) << capture.Dump();
        EXPECT_EQ(ReadFileBytes(path), Golden(id + ".saved"));
        // What was saved loads to the same document.
        MIniData again(ini.GetFlags());
        ASSERT_TRUE(again.Open(path));
        EXPECT_EQ(again.GetContentString(), content);
    }
    EXPECT_GE(count, 37); // a manifest that failed to load would run no case at all
}

TEST(MIniDataFile, EveryChangeClearsInSyncLookupsRefusalsAndCopiesDoNot) {
    TempDir dir;
    const std::string path = dir.File("a.ini");
    ASSERT_TRUE(WriteFileBytes(path, "[A]\r\nx=1\r\n[B]\r\n"));
    using Op = std::function<bool(MIniData&)>;
    const std::pair<Op, bool> ops[] = {
        {[](MIniData& d) { return d.SetContentString("[A]\n"); }, false},
        {[](MIniData& d) { return d.SetDoubleEntry("A", "x", 1); }, false},
        {[](MIniData& d) { return d.SetLongEntry("A", "y", 1); }, false},
        {[](MIniData& d) { return d.SetLongLongEntry("A", "x", 1); }, false},
        {[](MIniData& d) { return d.SetStringEntry("A", "x", "1"); }, false},
        {[](MIniData& d) { return d.DeleteSection("B"); }, false},
        {[](MIniData& d) { return d.DeleteEntry("A", "x"); }, false},
        {[](MIniData& d) { return !d.SetStringEntry("A", ";x", "1"); }, true},
        {[](MIniData& d) {
             std::string v;
             return d.GetStringEntry("A", "x", v) && d.HasEntry("A", "x");
         },
         true},
    };
    for (size_t i = 0; i < std::size(ops); ++i) {
        MIniData ini;
        ASSERT_TRUE(ini.Open(path));
        ASSERT_TRUE(ini.IsInSync());
        EXPECT_TRUE(ops[i].first(ini)) << "operation " << i;
        EXPECT_EQ(ini.IsInSync(), ops[i].second) << "operation " << i;
    }

    // The database's rollback restores documents by copy; here what it does not look at.
    MIniData source(MINIDATA_SAFE_SAVE | MINIDATA_FLUSH_ON_SAVE);
    ASSERT_TRUE(source.Open(path));
    EXPECT_FALSE(source.SetStringEntry("A", "#c", "v")); // leaves a message
    MIniData copy = source;
    EXPECT_EQ(copy.GetFlags(), source.GetFlags());
    EXPECT_EQ(copy.GetMessage(), source.GetMessage());
    EXPECT_EQ(copy.GetFileName(), path);
    EXPECT_TRUE(copy.IsOpen() && copy.IsInSync() && !copy.IsNewFile());
    ASSERT_TRUE(copy.SetLongEntry("A", "x", 2));
    EXPECT_EQ(source.GetContentString(), "[A]\nx=1\n[B]\n");
    MIniData& self = copy;
    copy = self;
    EXPECT_EQ(copy.GetContentString(), "[A]\nx=2\n[B]\n");
}

// Unicode marks and parse failures of files are the golden cases'. A missing file is a new
// one, no failure.
TEST(MIniDataFileFailure, FailedSaveKeepsStatesAndAFolderIsNoFile) {
    TempDir dir;
    TraceCapture capture;
    MIniData ini;
    const std::string lost = dir.File("no/such/folder/a.ini");
    ASSERT_TRUE(ini.Open(lost));
    EXPECT_TRUE(capture.ErrTrace().empty()) << capture.Dump();
    ASSERT_TRUE(ini.SetLongEntry("A", "x", 1));
    EXPECT_FALSE(ini.Save());
    EXPECT_TRUE(ini.IsNewFile());
    EXPECT_FALSE(ini.IsInSync());
    EXPECT_EQ(capture.ErrTrace().back(), "MIniData::Save(): MFastFile_WriteLinesAtOnce(\"" +
                                             lost.substr(0, 40) + "\") failed");

    MIniData folder;
    EXPECT_FALSE(folder.Open(dir.Path())); // exists, but cannot be read as a file
    EXPECT_FALSE(folder.IsOpen());
    EXPECT_EQ(capture.ErrTrace().back(), "MIniData::Open(): MFastFileReader::Open() failed");
}

TEST(MIniDataFileFailure, ReadErrorIsNoEndOfFile) {
    TraceCapture capture;
    MIniData ini;
    // This process's memory read from address 0 fails with EIO (Linux only: the test is on
    // the list of tests that do not run under Wine).
    EXPECT_FALSE(ini.Open("/proc/self/mem"));
    EXPECT_FALSE(ini.IsOpen());
    EXPECT_EQ(capture.ErrTrace().back(), "MIniData::Open(): MFastFileReader::ReadLine() failed")
        << capture.Dump();
}

} // namespace
