// INI documents on disk: golden files, Open and Save, the in-sync state, copies, and the
// failures of each. (Reload and Close are the magazine and probe databases'.)

#include "msl/mutil/minidata.h"
#include "platform/trace/tracecapture.h"
#include "tests/msl/fileio_testutil.h"
#include "tests/support/testsupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <sstream>

#ifndef VYX_INI_GOLDEN_DIR
#error "VYX_INI_GOLDEN_DIR must name the folder of the INI golden files"
#endif

namespace {

using fileio_test::Lines;
using vyx::test::ReadFileBytes;
using vyx::test::TempDir;
using vyx::test::WriteFileBytes;
using vyx::trace::TraceCapture;

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

TEST(MIniDataFile, EveryChangeClearsInSyncButLookupsAndRefusalsDoNot) {
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
}

// The database's rollback restores documents by copy; here what it does not look at.
TEST(MIniDataFile, CopiesTakeEverythingAndStayIndependent) {
    TempDir dir;
    const std::string path = dir.File("a.ini");
    ASSERT_TRUE(WriteFileBytes(path, "[A]\r\nx=1\r\n"));
    MIniData source(MINIDATA_SAFE_SAVE | MINIDATA_FLUSH_ON_SAVE);
    ASSERT_TRUE(source.Open(path));
    EXPECT_FALSE(source.SetStringEntry("A", "#c", "v")); // leaves a message
    MIniData copy = source;
    EXPECT_EQ(copy.GetFlags(), source.GetFlags());
    EXPECT_EQ(copy.GetMessage(), source.GetMessage());
    EXPECT_EQ(copy.GetFileName(), path);
    EXPECT_TRUE(copy.IsOpen() && copy.IsInSync() && !copy.IsNewFile());
    ASSERT_TRUE(copy.SetLongEntry("A", "x", 2));
    EXPECT_EQ(source.GetContentString(), "[A]\nx=1\n");
    MIniData& self = copy;
    copy = self;
    EXPECT_EQ(copy.GetContentString(), "[A]\nx=2\n");
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
    EXPECT_FALSE(ini.Open(fileio_test::FailingFiles().readFails));
    EXPECT_FALSE(ini.IsOpen());
    EXPECT_EQ(capture.ErrTrace().back(), "MIniData::Open(): MFastFileReader::ReadLine() failed")
        << capture.Dump();
}

} // namespace
