// Probe database: limits, listing, activation, deletion, component data, loading older and
// broken files, and what a failed save leaves behind.

#include "csensor/probedb/mtessorprobedb.h"
#include "tests/csensor/probedb/probedbtest.h"

using namespace probedbtest;

namespace {

struct OpenDB {
    TempDir dir;
    std::string file = dir.File("sys_1.ini");
    MTessorProbeDB db;
    OpenDB() { EXPECT_TRUE(db.Open(file)); }
    std::string Volatile() const { return ReadFileBytes(dir.File("volatile_sys_1.ini")); }
};

} // namespace

TEST(MTessorProbeDB, LimitsListActivateDeleteAndComponentData) {
    OpenDB t;
    vyx::trace::TraceCapture capture(1); // deletions must be traced even at level 1
    EXPECT_TRUE(t.db.DefineProbe({1000, 200, 1, 2, 3, 4}));
    const std::string before = ReadFileBytes(t.file);
    for (ProbeTipRecord refused : {ProbeTipRecord{1001, 1}, {1, 201}, {1000, 200, 9}})
        EXPECT_FALSE(t.db.DefineProbe(refused));
    ExpectErrTraces(capture,
                    {"DefineProbe(): probe id too large", "DefineProbe(): tip id too large",
                     "DefineProbe(): probe/tip 1000 200 already defined"});
    EXPECT_EQ(ReadFileBytes(t.file), before);
    EXPECT_EQ(Text(t.db.ListProbes(0, 0)), "1000/200 1 2 3 4\n");
    ASSERT_TRUE(t.db.DeleteProbe(0, 0));

    for (auto [p, tip] : {std::pair{2u, 5u}, {1u, 2u}, {2u, 1u}, {1u, 1u}})
        ASSERT_TRUE(t.db.DefineProbe({p, tip, 1.0 * p, 1.0 * tip}));
    EXPECT_EQ(Text(t.db.ListProbes(0, 0)), "1/1 1 1 0 0\n1/2 1 2 0 0\n2/1 2 1 0 0\n2/5 2 5 0 0\n");
    EXPECT_EQ(Text(t.db.ListProbes(2, 0)), "2/1 2 1 0 0\n2/5 2 5 0 0\n");
    EXPECT_EQ(Text(t.db.ListProbes(0, 1)), "1/1 1 1 0 0\n2/1 2 1 0 0\n");
    EXPECT_EQ(Text(t.db.ListProbes(1, 2)), "1/2 1 2 0 0\n");

    EXPECT_FALSE(t.db.SetActiveProbe(3, 1));
    EXPECT_FALSE(t.db.SetActiveProbe(1, 0)); // one number 0 is checked like any pair
    EXPECT_TRUE(t.db.SetActiveProbe(2, 5));

    // Deleting the active tip leaves no active tip.
    EXPECT_TRUE(t.db.DeleteProbe(2, 5));
    EXPECT_EQ(t.db.GetActiveProbe() + t.db.GetActiveTip(), 0u);
    EXPECT_EQ(capture.CountTrace("MTessorProbeDB::DeleteProbe(): Deleted section Probe_2_Tip_5 "
                                 "from " +
                                 t.file + ", probe 2 5"),
              1);
    EXPECT_TRUE(t.db.DeleteProbe(2, 1));
    EXPECT_FALSE(t.db.DeleteProbe(2, 1));
    EXPECT_FALSE(t.db.DeleteProbe(1, 9));

    // All tips of the active probe, then everything.
    EXPECT_TRUE(t.db.SetActiveProbe(1, 2));
    EXPECT_TRUE(t.db.DeleteProbe(1, 0));
    EXPECT_EQ(t.db.GetActiveProbe(), 0u);
    EXPECT_FALSE(t.db.DeleteProbe(1, 0));
    ExpectErrTraces(capture, {"SetActiveProbe(): probe/tip 3 1 not defined",
                              "DeleteProbe(): probe 2 not defined",
                              "DeleteProbe(): tip 9 not defined for probe 1",
                              "clear_tips(): probe 1 not defined"});
    ASSERT_TRUE(t.db.DefineProbe({4, 1}));
    ASSERT_TRUE(t.db.SetActiveProbe(4, 1));
    EXPECT_TRUE(t.db.DeleteProbe(0, 0));
    EXPECT_TRUE(t.db.ListProbes(0, 0).empty());
    EXPECT_EQ(ReadFileBytes(t.file), "");
    EXPECT_EQ(t.Volatile(), "[Global]\r\nActProbe=0\r\nActTip=0\r\n");

    MTessorProbeDB never_opened;
    std::string text;
    EXPECT_TRUE(never_opened.GetComponentData(text, 0, 0));
    EXPECT_EQ(text, "[Geometry]\nx0=0.\ny0=0.\nz0=0.\n");

    ASSERT_TRUE(t.db.DefineProbe({1, 1, 1.5, 0, -0.25, 2}));
    ASSERT_TRUE(t.db.GetComponentData(text, 1, 1));
    EXPECT_EQ(text, "[Geometry]\nx0=1.5\ny0=0\nz0=-0.25\nD=2\nTipType=SPHERE\nnever_sent=1\n");

    const std::string unsaved = ReadFileBytes(t.file);
    EXPECT_TRUE(t.db.SetComponentData("[GENERAL]\nSave=0\n[Geometry]\nD=7\n", 1, 1));
    EXPECT_EQ(ReadFileBytes(t.file), unsaved);
    EXPECT_TRUE(t.db.SetComponentData("[GENERAL]\nSave=x\n[Geometry]\nD=7\n", 1, 1));
    ASSERT_TRUE(t.db.GetComponentData(text, 1, 1));
    EXPECT_EQ(text, "[GENERAL]\nSave=x\n[Geometry]\nD=7\n");

    EXPECT_FALSE(t.db.SetComponentData("x=1\n", 1, 1));
    EXPECT_FALSE(t.db.SetComponentData("[A]\n", 7, 7));
    EXPECT_FALSE(t.db.GetComponentData(text, 7, 7));
    ExpectErrTraces(capture, {"SetComponentData(): SetContentString() failed",
                              "SetComponentData(): section Probe_7_Tip_7 does not exist",
                              "GetComponentData(): failed to get entry [Probe_7_Tip_7] probe.tip"});
}

TEST(MTessorProbeDB, OpenMovesOldGlobalAndRefusesBrokenFiles) {
    TempDir dir;
    const std::string file = dir.File("old.ini");
    ASSERT_TRUE(WriteFileBytes(file, "[Global]\r\nActProbe=1\r\nActTip=2\r\n[Probe_1_Tip_2]\r\n"
                                     "x=1\r\n[Probe_01_Tip_2]\r\nx=5\r\n"));
    MTessorProbeDB db;
    ASSERT_TRUE(db.Open(file));
    EXPECT_EQ(db.GetActiveProbe() * 10 + db.GetActiveTip(), 12u);
    EXPECT_EQ(Text(db.ListProbes(0, 0)), "1/2 5 0 0 0\n"); // the first section wins
    EXPECT_EQ(ReadFileBytes(file), "[Probe_01_Tip_2]\r\nx=5\r\n[Probe_1_Tip_2]\r\nx=1\r\n");
    EXPECT_EQ(ReadFileBytes(dir.File("volatile_old.ini")),
              "[Global]\r\nActProbe=1\r\nActTip=2\r\n");

    // A file that does not load leaves the database closed: nothing can overwrite it.
    vyx::trace::TraceCapture capture;
    const std::string bad = dir.File("bad.ini");
    ASSERT_TRUE(WriteFileBytes(bad, "[Probe_1]\r\nx=1\r\n"));
    EXPECT_FALSE(db.Open(bad));
    EXPECT_TRUE(db.ListProbes(0, 0).empty());
    EXPECT_FALSE(db.DefineProbe({2, 2}));
    EXPECT_FALSE(db.DeleteProbe(0, 0));
    EXPECT_FALSE(db.SetComponentData("[Geometry]\nx0=1\n", 1, 2));
    EXPECT_EQ(ReadFileBytes(bad), "[Probe_1]\r\nx=1\r\n");

    // A volatile file naming a tip the database does not have.
    ASSERT_TRUE(WriteFileBytes(dir.File("volatile_old.ini"), "[Global]\nActProbe=5\nActTip=5\n"));
    EXPECT_FALSE(db.Open(file));
    ExpectErrTraces(capture, {"ini2cache(): failed to parse section Probe_1",
                              "DefineProbe(): probe database not open",
                              "DeleteProbe(): probe database not open",
                              "SetComponentData(): probe database not open",
                              "MTessorProbeDB::ini2cache(): SetActiveProbe(5, 5) failed"});
}

TEST(MTessorProbeDB, FailedSavesLeaveMemoryAsTheFilesAndTheActiveProbeGoesFirst) {
    OpenDB t;
    for (ProbeTipRecord r : {ProbeTipRecord{1, 1, 1}, {1, 2, 2}, {2, 1, 3}})
        ASSERT_TRUE(t.db.DefineProbe(r));
    ASSERT_TRUE(t.db.SetActiveProbe(1, 1));
    const std::string list = Text(t.db.ListProbes(0, 0));
    const auto files = Snapshot(t.dir.Path());
    {
        BlockedFolder blocked(t.dir.Path());
        vyx::trace::TraceCapture capture;
        EXPECT_FALSE(t.db.DefineProbe({3, 1}));
        EXPECT_FALSE(t.db.DeleteProbe(1, 2));
        EXPECT_FALSE(t.db.DeleteProbe(1, 1)); // the active tip
        EXPECT_FALSE(t.db.DeleteProbe(1, 0));
        EXPECT_FALSE(t.db.DeleteProbe(2, 0));
        EXPECT_FALSE(t.db.DeleteProbe(0, 0));
        EXPECT_FALSE(t.db.SetActiveProbe(2, 1));
        EXPECT_FALSE(t.db.SetComponentData("[A]\nk=v\n", 1, 1));
        ExpectErrTraces(capture, {"DefineProbe(): failed to save ini file",
                                  "DeleteProbe(): failed to save ini file",
                                  "clear_tips(): failed to save ini file"});
        EXPECT_EQ(capture.CountErrTrace("SetActiveProbe(): failed to save inifile"), 4);
        EXPECT_EQ(Text(t.db.ListProbes(0, 0)), list);
        EXPECT_EQ(t.db.GetActiveProbe() * 10 + t.db.GetActiveTip(), 11u);
    }
    EXPECT_EQ(Snapshot(t.dir.Path()), files);

    // Only the volatile file cannot be written: clearing the active probe (or all probes)
    // must fail before the database file loses the tips, or the volatile file left behind
    // would name a tip that no longer exists, and the database would never open again.
    const std::string volatileFile = t.dir.File("volatile_sys_1.ini");
    for (uint32_t probe : {1u, 0u}) {
        SCOPED_TRACE(probe);
        std::filesystem::remove(volatileFile);
        std::filesystem::create_directory(volatileFile);
        EXPECT_FALSE(t.db.DeleteProbe(probe, 0));
        std::filesystem::remove(volatileFile);
        ASSERT_TRUE(WriteFileBytes(volatileFile, files.at("volatile_sys_1.ini")));
        EXPECT_EQ(ReadFileBytes(t.file), files.at("sys_1.ini"));
        EXPECT_EQ(Text(t.db.ListProbes(0, 0)), list);
        MTessorProbeDB again;
        ASSERT_TRUE(again.Open(t.file));
        EXPECT_EQ(again.GetActiveProbe() * 10 + again.GetActiveTip(), 11u);
    }

    // The next successful save must not bring back any of the failed changes.
    ASSERT_TRUE(t.db.DefineProbe({9, 9}));
    MTessorProbeDB again;
    ASSERT_TRUE(again.Open(t.file));
    EXPECT_EQ(Text(again.ListProbes(0, 0)), list + "9/9 0 0 0 0\n");
    EXPECT_EQ(again.GetActiveProbe() * 10 + again.GetActiveTip(), 11u);
    std::string text;
    ASSERT_TRUE(again.GetComponentData(text, 1, 1));
    EXPECT_EQ(text.rfind("[Geometry]\nx0=1\n", 0), 0u);
}
