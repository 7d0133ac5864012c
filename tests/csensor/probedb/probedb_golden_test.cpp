// Golden files: a fixed sequence of defines, activations and deletes on an empty folder must
// give exactly the files under golden/, byte for byte, and loading them back must give the
// same lists and selections.
//
// To renew the golden files after a deliberate format change, run the test with
// VYX_PROBEDB_GOLDEN_OUT set to a folder, check the files written there and copy them over.

#include "csensor/probedb/mtessorprobedb.h"
#include "csensor/probedb/mtessorprobesystemdb.h"
#include "tests/csensor/probedb/probedbtest.h"

#include <cstdlib>

using namespace probedbtest;

TEST(ProbeDatabaseGolden, SequenceGivesExactFilesAndLoadsBack) {
    TempDir dir;
    vyx::trace::TraceCapture capture;
    ASSERT_NO_FATAL_FAILURE(DefineGoldenMachine(dir.Path()));
    ASSERT_TRUE(capture.ErrTrace().empty()) << capture.Dump();

    const auto actual = Snapshot(dir.Path());
    if (const char* out = std::getenv("VYX_PROBEDB_GOLDEN_OUT")) {
        for (const auto& [name, bytes] : actual)
            WriteFileBytes(std::string(out) + "/" + name, bytes);
    }
    const auto golden = Snapshot(VYX_PROBEDB_GOLDEN_DIR);
    ASSERT_EQ(actual, golden); // every file byte for byte, and no file more

    // Loaded back, the files give the same lists and selections and stay as they are.
    MTessorProbesystemDB systems(dir.Path(), "probesystemdb.ini");
    ASSERT_TRUE(systems.Open());
    EXPECT_EQ(Text(systems.ListProbesystems("*", 0)),
              "A:B/3 0 0 10 0 0 0\nR85Q/1 1.5 0 -2 0 90 0.10000000000000001\n");
    EXPECT_EQ(systems.GetActiveProbeIniName(), "R85Q_1.ini");
    MTessorProbeDB probes;
    ASSERT_TRUE(probes.Open(dir.File("R85Q_1.ini")));
    EXPECT_EQ(Text(probes.ListProbes(0, 0)),
              "1/1 0.5 0 0 2\n2/1 1 2 3 4\n1000/200 -1.0000000000000001e-05 0 0 0.125\n");
    EXPECT_EQ(probes.GetActiveProbe() * 10 + probes.GetActiveTip(), 21u);
    ASSERT_TRUE(capture.ErrTrace().empty()) << capture.Dump();
    EXPECT_EQ(Snapshot(dir.Path()), golden);
}
