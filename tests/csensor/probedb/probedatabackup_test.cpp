// Backup and restore of all probe data: round trip into an empty folder, serial numbers,
// damaged texts that must change nothing, and the way back when writing fails midway.

#include "csensor/probedb/mtessorprobedb.h"
#include "csensor/probedb/mtessorprobesystemdb.h"
#include "msl/mutil/minidata.h"
#include "tests/csensor/probedb/probedbtest.h"

#include <filesystem>

using namespace probedbtest;

namespace {

const char* const kSerial = "123.456.789";

// A machine with two probesystems, the active one with an active probe.
struct Machine {
    TempDir dir;
    MTessorProbesystemDB db{dir.Path(), "probesystemdb.ini"};
    Machine() {
        DefineGoldenMachine(dir.Path());
        EXPECT_TRUE(db.Open());
    }
    std::string Backup(const std::string& serial = kSerial) {
        std::string text;
        EXPECT_TRUE(db.BackupAllData(serial, text));
        return text;
    }
};

} // namespace

TEST(ProbeDataBackup, RoundTripAndForeignDamagedOrHalfWrittenRestoresChangeNothing) {
    Machine source;
    ASSERT_TRUE(source.db.DefineProbesystem({"Z", 1}));
    MTessorProbeDB probes;
    ASSERT_TRUE(probes.Open(source.dir.File("R85Q_1.ini")));
    ASSERT_TRUE(probes.DefineProbe({1, 2})); // so that restoring R85Q_1.ini changes it
    ASSERT_TRUE(source.db.DefineProbesystem({"Gone", 1}));
    std::filesystem::remove(source.dir.File("Gone_1.ini"));
    const std::string good = source.Backup();
    const auto files = Snapshot(source.dir.Path());
    std::string expected = "[Global]\nSerialNo=123.456.789\n";
    for (const char* name :
         {"probesystemdb.ini", "volatile_probesystemdb.ini", "A_B_3.ini", "R85Q_1.ini", "Z_1.ini"})
        expected += std::string(name) + "=" + Encoded(files.at(name)) + "\n";
    EXPECT_EQ(good, expected);

    // Into an empty folder.
    TempDir empty;
    MTessorProbesystemDB restored(empty.Path(), "probesystemdb.ini");
    ASSERT_TRUE(restored.Open());
    {
        vyx::trace::TraceCapture capture;
        ASSERT_TRUE(restored.RestoreAllData(kSerial, good)) << capture.Dump();
    }
    auto kept = files;
    kept.erase("volatile_R85Q_1.ini"); // the probe databases' own selection stays behind
    EXPECT_EQ(Snapshot(empty.Path()), kept);
    EXPECT_EQ(Text(restored.ListProbesystems("*", 0)), Text(source.db.ListProbesystems("*", 0)));
    EXPECT_EQ(restored.GetActiveProbeIniName(), "R85Q_1.ini");

    // Restored on the machine that made it: every file is rewritten, nothing changes.
    ASSERT_TRUE(source.db.RestoreAllData(kSerial, good));
    EXPECT_EQ(Snapshot(source.dir.Path()), files);
    EXPECT_EQ(source.db.GetActiveProbesystem(), "R85Q");

    // Foreign and damaged texts change nothing.
    Machine target;
    ASSERT_TRUE(target.db.DefineProbesystem({"Only", 1}));
    const auto before = Snapshot(target.dir.Path());
    const std::string list = Text(target.db.ListProbesystems("*", 0));

    auto replaced = [&](const std::string& entry, const std::string& value) {
        MIniData ini;
        EXPECT_TRUE(ini.SetContentString(good));
        EXPECT_TRUE(value.empty() ? ini.DeleteEntry("Global", entry)
                                  : ini.SetStringEntry("Global", entry, value));
        return ini.GetContentString();
    };
    const std::string db = "probesystemdb.ini";
    const std::string vol = "volatile_probesystemdb.ini";
    const std::pair<std::string, const char*> cases[] = {
        {replaced("SerialNo", "999.999.999"),
         "serial numbers do not match (123.456.789 != 999.999.999). Refusing restore."},
        {good.substr(0, good.size() / 2) + "\n[Global]\n", "failed to read data to be restored"},
        {replaced("SerialNo", ""), "failed to extract machine serial number from file"},
        {replaced("R85Q_1.ini", "@@@@"), "failed to base64 decode R85Q_1.ini"},
        {replaced("../escape.ini", Encoded("x")), "illegal file name ../escape.ini"},
        {replaced(db, ""), "could not get entry for probesystemdb.ini"},
        {replaced(vol, ""), "could not get entry for volatile_probesystemdb.ini"},
        {replaced(db, Encoded("no section\n")), "failed to parse probesystemdb.ini"},
        {replaced(db, Encoded("[A_1]\n[A_01]\n")), "failed to build internal probesystems list"},
        {replaced(vol, Encoded("[Global]\nActId=1\n")), "failed to set current probesystem"},
        {replaced(vol, Encoded("[Global]\nActSystem=A\nActId=-1\n")), "illegal probesystem id -1"},
    };
    for (const auto& [text, message] : cases) {
        SCOPED_TRACE(message);
        vyx::trace::TraceCapture capture;
        EXPECT_FALSE(target.db.RestoreAllData(kSerial, text));
        ExpectErrTraces(capture, {std::string("do_restore(): ") + message,
                                  "RestoreAllData(): restoration of probe data failed. Trying to "
                                  "restore old state.",
                                  "RestoreAllData(): restoration of backup data successful."});
        EXPECT_EQ(Snapshot(target.dir.Path()), before);
        EXPECT_EQ(Text(target.db.ListProbesystems("*", 0)), list);
        EXPECT_EQ(target.db.GetActiveProbesystem(), "R85Q");
    }
    EXPECT_FALSE(PathExists(target.dir.Path() + "/../escape.ini"));

    // "Z_1.ini" is written after "A_B_3.ini" and "R85Q_1.ini"; a folder of that name stops the
    // restore midway, and the old state comes back.
    std::filesystem::create_directory(target.dir.File("Z_1.ini"));
    vyx::trace::TraceCapture capture;
    EXPECT_FALSE(target.db.RestoreAllData(kSerial, good));
    ExpectErrTraces(capture, {"do_restore(): failed to write " + target.dir.File("Z_1.ini"),
                              "RestoreAllData(): restoration of backup data successful."});
    EXPECT_EQ(Snapshot(target.dir.Path()), before);
    EXPECT_EQ(Text(target.db.ListProbesystems("*", 0)), list);
    EXPECT_EQ(target.db.GetActiveProbeIniName(), "R85Q_1.ini");
    std::filesystem::remove(target.dir.File("Z_1.ini"));

    // A machine without a serial number may give its data to any machine, with a warning.
    EXPECT_TRUE(target.db.RestoreAllData(kSerial, replaced("SerialNo", "000.000.000")));
    EXPECT_EQ(capture.CountTrace("do_restore(): warning: restoring probe data of machine "
                                 "'000.000.000' to this machine with serial '123.456.789'. "
                                 "Calibration data is unreliable."),
              1);
    EXPECT_FALSE(target.db.IsProbesystemDefined("Only")); // defined after the backup: goes
    EXPECT_FALSE(PathExists(target.dir.File("Only_1.ini")));
    EXPECT_EQ(ReadFileBytes(target.dir.File("R85Q_1.ini")),
              ReadFileBytes(source.dir.File("R85Q_1.ini")));
}
