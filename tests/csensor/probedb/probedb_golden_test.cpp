// Golden files: a fixed sequence of defines, activations and deletes on an empty folder must
// give exactly the files under golden/, byte for byte, and loading them back must give the
// same lists and selections.
//
// To renew the golden files after a deliberate format change, run the test with
// VYX_PROBEDB_GOLDEN_OUT set to a folder, check the files written there and copy them over.

#include "csensor/probedb/mtessorprobedb.h"
#include "csensor/probedb/mtessorprobesystemdb.h"
#include "tests/csensor/probedb/probedbtest.h"

#include <gtest/gtest.h>

#include <cstdlib>

#ifndef VYX_PROBEDB_GOLDEN_DIR
#error "VYX_PROBEDB_GOLDEN_DIR must name the folder of the probe database golden files"
#endif

using namespace probedbtest;
using vyx::test::TempDir;

namespace {

const char* const kSystems = "A:B/3 0 0 10 0 0 0\nR85Q/1 1.5 0 -2 0 90 0.10000000000000001\n";
const char* const kProbes = "1/1 0.5 0 0 2\n2/1 1 2 3 4\n1000/200 -1.0000000000000001e-05 0 0 "
                            "0.125\n";

} // namespace

TEST(ProbeDatabaseGolden, SequenceGivesExactFilesAndLoadsBack) {
    TempDir dir;
    vyx::trace::TraceCapture capture;
    {
        MTessorProbesystemDB systems(dir.Path(), "probesystemdb.ini");
        ASSERT_TRUE(systems.Open());
        ASSERT_TRUE(systems.DefineProbesystem({"R85Q", 1, 1.5, 0, -2, 0, 90, 0.1}));
        ASSERT_TRUE(systems.DefineProbesystem({"R85Q", 2}));
        ASSERT_TRUE(systems.DefineProbesystem({"A:B", 3, 0, 0, 10}));
        ASSERT_TRUE(systems.SetActiveProbesystem("A:B", 3));
        ASSERT_TRUE(systems.SetActiveProbesystem("R85Q", 1));
        ASSERT_TRUE(systems.DeleteProbesystem("R85Q", 2));

        MTessorProbeDB probes;
        ASSERT_TRUE(probes.Open(dir.File(systems.GetActiveProbeIniName())));
        ASSERT_TRUE(probes.DefineProbe({2, 1, 1, 2, 3, 4}));
        ASSERT_TRUE(probes.DefineProbe({1, 1, 0.5, 0, 0, 2}));
        ASSERT_TRUE(probes.DefineProbe({1, 2}));
        ASSERT_TRUE(probes.DefineProbe({1000, 200, -1e-5, 0, 0, 0.125}));
        ASSERT_TRUE(probes.SetActiveProbe(1, 2));
        ASSERT_TRUE(probes.DeleteProbe(1, 2));
        ASSERT_TRUE(probes.SetActiveProbe(2, 1));
        ASSERT_TRUE(probes.SetComponentData("[Geometry]\nx0=1\n[Camera]\nzoom=4\n", 2, 1));
    }
    ASSERT_TRUE(capture.ErrTrace().empty()) << capture.Dump();

    const auto actual = Snapshot(dir.Path());
    if (const char* out = std::getenv("VYX_PROBEDB_GOLDEN_OUT")) {
        for (const auto& [name, bytes] : actual)
            vyx::test::WriteFileBytes(std::string(out) + "/" + name, bytes);
    }
    const auto golden = Snapshot(VYX_PROBEDB_GOLDEN_DIR);
    ASSERT_FALSE(golden.empty());
    ASSERT_EQ(actual, golden); // every file byte for byte, and no file more

    // Loaded from a copy: activating a probe writes its volatile file.
    TempDir copy;
    for (const auto& [name, bytes] : golden)
        ASSERT_TRUE(vyx::test::WriteFileBytes(copy.File(name), bytes));
    MTessorProbesystemDB systems(copy.Path(), "probesystemdb.ini");
    ASSERT_TRUE(systems.Open());
    EXPECT_EQ(Text(systems.ListProbesystems("*", 0)), kSystems);
    EXPECT_EQ(systems.GetActiveProbeIniName(), "R85Q_1.ini");
    MTessorProbeDB probes;
    ASSERT_TRUE(probes.Open(copy.File("R85Q_1.ini")));
    EXPECT_EQ(Text(probes.ListProbes(0, 0)), kProbes);
    EXPECT_EQ(probes.GetActiveProbe() * 10 + probes.GetActiveTip(), 21u);
    std::string text;
    ASSERT_TRUE(probes.GetComponentData(text, 2, 1));
    EXPECT_EQ(text, "[Geometry]\nx0=1\n[Camera]\nzoom=4\n");
    ASSERT_TRUE(probes.GetComponentData(text, 1, 1));
    EXPECT_EQ(text, "[Geometry]\nx0=0.5\ny0=0\nz0=0\nD=2\nTipType=SPHERE\nnever_sent=1\n");
    ASSERT_TRUE(capture.ErrTrace().empty()) << capture.Dump();
    EXPECT_EQ(Snapshot(copy.Path()), golden); // loading changed nothing
}
