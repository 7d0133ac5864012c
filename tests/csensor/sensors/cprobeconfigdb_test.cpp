#include "csensor/sensors/cprobeconfigdb.h"
#include "csensor/sensors/mbitmap2double.h"
#include "platform/trace/tracecapture.h"
#include "sensortestutil.h"
#include "tests/support/testsupport.h"

#include <gtest/gtest.h>

#include <filesystem>

using vyx::test::ReadFileBytes;
using vyx::test::TempDir;
using vyx::test::WriteFileBytes;

TEST(ProbeConfigDB, NewFileGetsGeneralEntriesOnceBlobsRoundTripAndMissingOnesAreQuiet) {
    TempDir dir;
    const std::string path = dir.File("camprobedb.ini");
    {
        CProbeConfigDB db(dir.Path(), "camprobedb.ini");
        ASSERT_TRUE(db.Open());
        EXPECT_EQ(ReadFileBytes(path),
                  "[GENERAL]\r\nTarget=prbcfgdb.ini\r\nComponent=probe.configdb\r\n");
        ASSERT_TRUE(db.WriteData("Camera", "PROPERTIES", "[Camera]\ngain=2\n\n; comment\n"));
        std::string line;
        ASSERT_TRUE(db.GetStringEntry("Camera", "PROPERTIES", line));
        EXPECT_EQ(line, "W0NhbWVyYV0KZ2Fpbj0yCgo7IGNvbW1lbnQK"); // one line, saved at once
        EXPECT_NE(ReadFileBytes(path).find(line), std::string::npos);
    }
    // Written with LF only and a blob with the blanks of a hand edit: a second Open that saved
    // anything would turn them into CR LF.
    const std::string lf = "[GENERAL]\nTarget=prbcfgdb.ini\nComponent=probe.configdb\n[Camera]\n"
                           "PROPERTIES=W0NhbWVyYV0KZ2Fpbj0yCgo7IGNvbW1lbnQK\nGEOMETRY= YWJj \n";
    ASSERT_TRUE(WriteFileBytes(path, lf));
    CProbeConfigDB db(dir.Path(), "camprobedb.ini");
    ASSERT_TRUE(db.Open());
    EXPECT_EQ(ReadFileBytes(path), lf);
    std::string text;
    ASSERT_TRUE(db.ReadData("Camera", "PROPERTIES", text));
    EXPECT_EQ(text, "[Camera]\ngain=2\n\n; comment\n");
    ASSERT_TRUE(db.ReadData("Camera", "GEOMETRY", text));
    EXPECT_EQ(text, "abc");
    // A missing blob is quiet; a broken one is reported as the camera's probe manager test
    // shows.
    vyx::trace::TraceCapture capture;
    EXPECT_FALSE(db.ReadData("Camera", "MISSING", text));
    EXPECT_TRUE(capture.ErrLog().empty() && capture.ErrTrace().empty()) << capture.Dump();
}

TEST(ProbeConfigDB, EveryChangeNeedsOpenAndRefusedContentOrFailedSavesLoseNothing) {
    TempDir dir;
    ASSERT_TRUE(WriteFileBytes(dir.File("db.ini"), "[A]\n[A]\n")); // does not load
    CProbeConfigDB db(dir.Path(), "db.ini");
    vyx::trace::TraceCapture capture;
    EXPECT_FALSE(db.Open());
    EXPECT_EQ(
        capture.CountErrTrace("Open(): m_inidata.Open(\"" + dir.File("db.ini") + "\") failed"), 1);
    // The writers, which would save over the file that did not load.
    sensortest::ExpectRefused(
        capture, {
                     {db.Save(), "Save(): m_inidata not opened"},
                     {db.WriteData("a", "b", "c"), "WriteData(): m_inidata not opened"},
                     {db.SetFileContent("[a]\n"), "SetFileContent(): m_inidata not opened"},
                 });
    EXPECT_EQ(ReadFileBytes(dir.File("db.ini")), "[A]\n[A]\n"); // nothing written over it

    const std::string sub = dir.File("sub");
    std::filesystem::create_directory(sub);
    CProbeConfigDB saved(sub, "saved.ini");
    ASSERT_TRUE(saved.Open());
    ASSERT_TRUE(
        saved.SetFileContent("[GENERAL]\nTarget=t\n[ProbeSystem]\nprobesystem.list=A:1 \n"));
    EXPECT_FALSE(saved.SetFileContent("[X]\nno equals sign\n"));
    EXPECT_EQ(capture.CountErrLog("SetFileContent(): m_inidata.SetContentString() failed"), 1);
    std::string content;
    ASSERT_TRUE(saved.GetFileContent(content));
    EXPECT_EQ(content, "[GENERAL]\nTarget=t\n[ProbeSystem]\nprobesystem.list=A:1 \n");

    ASSERT_TRUE(saved.WriteData("S", "K", "old"));
    std::filesystem::remove_all(sub); // every later save fails
    EXPECT_FALSE(saved.WriteData("S", "K", "new"));
    EXPECT_FALSE(saved.WriteData("S", "K2", "new"));
    EXPECT_EQ(capture.CountErrTrace("WriteData(): m_inidata.Save() failed"), 2);
    EXPECT_EQ(capture.CountErrLog("Save(): failed to save m_inidata to " + sub +
                                  vyx::test::kSeparator + "saved.ini"),
              2);
    std::string text;
    ASSERT_TRUE(saved.ReadData("S", "K", text));
    EXPECT_EQ(text, "old");
    EXPECT_FALSE(saved.ReadData("S", "K2", text));
}

TEST(ProbeConfigDB, LockBitOnADouble) {
    double word = 5.0; // bits 0 and 2 belong to others
    auto bit = MBitmap2Double_Create(&word);
    ASSERT_TRUE(bit);
    EXPECT_TRUE(bit->SetState(true));
    EXPECT_EQ(word, 7.0);
    EXPECT_FALSE(bit->SetState(true)); // already on: nothing changes
    EXPECT_TRUE(bit->SetState(false));
    EXPECT_EQ(word, 5.0);
}
