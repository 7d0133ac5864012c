// The camera's probe database: a new tip carries the zoom, the active pair stays.

#include "mt_proxy/camera/misc/mcameraprobedb.h"
#include "platform/trace/tracecapture.h"
#include "tests/support/testsupport.h"

#include <gtest/gtest.h>

TEST(MCameraProbeDB, NewTipCarriesZoomAndKeepsTheActivePair) {
    vyx::test::TempDir dir;
    MCameraProbeDB db;
    ASSERT_TRUE(db.Open(dir.File("R85Q_1.ini")));
    ASSERT_TRUE(db.DefineProbe({1, 1, 0, 0, 0, 2}));
    ASSERT_TRUE(db.SetActiveProbe(1, 1));
    MMachProbeDB& machineView = db; // the interface the machine uses
    ASSERT_TRUE(machineView.DefineProbe({1, 2, 0.5, -1, 0, 2.5}));
    EXPECT_EQ(db.GetActiveProbe() * 10 + db.GetActiveTip(), 11u);
    EXPECT_EQ(vyx::test::ReadFileBytes(dir.File("volatile_R85Q_1.ini")),
              "[Global]\r\nActProbe=1\r\nActTip=1\r\n");
    std::string text;
    ASSERT_TRUE(db.GetComponentData(text, 1, 2));
    // Sections are written in name order, so "Camera" comes first.
    EXPECT_EQ(text, "[Camera]\nzoom=2.5\n[Geometry]\nx0=0.5\ny0=-1\nz0=0\nD=2.5\nTipType=SPHERE\n"
                    "never_sent=1\n");

    vyx::trace::TraceCapture capture;
    EXPECT_FALSE(db.DefineProbe({1, 2, 0, 0, 0, 9}));
    EXPECT_EQ(capture.CountErrTrace(
                  "MCameraProbeDB::DefineProbe(): MTessorProbeDB::DefineProbe() failed"),
              1);
    ASSERT_TRUE(db.GetComponentData(text, 1, 2));
    EXPECT_EQ(text.rfind("[Camera]\nzoom=2.5\n", 0), 0u);
}
