// Probesystem database: names, activation and component data across Open, deleting, listing,
// types, and what a failed change leaves behind. The files a define writes are pinned by the
// golden test.

#include "csensor/probedb/mtessorprobesystemdb.h"
#include "tests/csensor/probedb/probedbtest.h"

#include <filesystem>

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

using namespace probedbtest;

namespace {

struct OpenSystems {
    TempDir dir;
    MTessorProbesystemDB db{dir.Path(), "probesystemdb.ini"};
    OpenSystems() { EXPECT_TRUE(db.Open()); }
    std::string File(const std::string& name) const { return ReadFileBytes(dir.File(name)); }
};

} // namespace

TEST(MTessorProbesystemDB, DefineCutsLongNamesAndRefusesBadOnes) {
    OpenSystems t;
    const std::string cut(40, 'L');
    ASSERT_TRUE(t.db.DefineProbesystem({cut + "LLLLL", 1}));
    EXPECT_TRUE(PathExists(t.dir.File(cut + "_1.ini")));
    EXPECT_EQ(t.File("probesystemdb.ini").rfind("[" + cut + "_1]\r\n", 0), 0u);

    vyx::trace::TraceCapture capture;
    ASSERT_TRUE(t.db.DefineProbesystem({"R85Q", 1}));
    EXPECT_FALSE(t.db.DefineProbesystem({"R85Q", 1}));
    EXPECT_FALSE(t.db.DefineProbesystem({"../up", 1}));
    EXPECT_FALSE(t.db.DefineProbesystem({"", 1}));
    ExpectErrTraces(capture,
                    {"MTessorProbesystemDB::DefineProbe(R85Q, 1, ...): id already defined"});
    EXPECT_EQ(capture.CountErrTrace("MTessorProbesystemDB::DefineProbesystem(): illegal "
                                    "probesystem name"),
              2);
    EXPECT_FALSE(PathExists(t.dir.Path() + "/../up_1.ini"));

    // Names that would share another's section or probe files (its own or the volatile one
    // beside it, told apart by case alone on Windows), and names no line can hold.
    capture.Clear();
    ASSERT_TRUE(t.db.DefineProbesystem({"Camera:1", 1}));
    ASSERT_TRUE(t.db.DefineProbesystem({"Camera:1", 2}));
    const std::string refused[] = {"Camera_1",    "camera:1",   "volatile_Camera:1",
                                   cut + "MMMMM", "two\nlines", "\xff"};
    for (const std::string& name : refused)
        EXPECT_FALSE(t.db.DefineProbesystem({name, 1})) << name;
    EXPECT_TRUE(t.db.DefineProbesystem({"Camera_1", 3})); // Camera_1_3.ini is nobody's
    ExpectErrTraces(capture,
                    {"\"Camera_1\" 1 would share its file camera_1_1.ini with \"Camera:1\" 1",
                     "\"volatile_Camera:1\" 1 would share its file camera_1_1.ini with",
                     "would share its section " + cut + "_1 with",
                     "illegal probesystem name \"two\\x0alines\": contains a control character"});
    EXPECT_EQ(t.db.ListProbesystems("*", 0).size(), 5u);
}

TEST(MTessorProbesystemDB, ListsTypesActivationAndComponentDataAcrossOpenAndDeletion) {
    OpenSystems t;
    EXPECT_EQ(t.File("volatile_probesystemdb.ini"), "[Global]\r\nActSystem=\r\nActId=0\r\n");
    for (const ProbesystemRecord& r :
         {ProbesystemRecord{"B", 2, 1}, {"B", 1, 0, 0, 0, 0, 0, 3}, {"A", 7}})
        ASSERT_TRUE(t.db.DefineProbesystem(r));
    EXPECT_EQ(Text(t.db.ListProbesystems("*", 0)),
              "A/7 0 0 0 0 0 0\nB/1 0 0 0 0 0 3\nB/2 1 0 0 0 0 0\n");
    EXPECT_EQ(Text(t.db.ListProbesystems("B", 2)), "B/2 1 0 0 0 0 0\n");
    EXPECT_EQ(Text(t.db.ListProbesystems("*", 1)), "B/1 0 0 0 0 0 3\n");
    EXPECT_TRUE(t.db.ListProbesystems("X", 0).empty());

    EXPECT_EQ(t.db.FirstProbesystemType(), nullptr);
    EXPECT_EQ(t.db.SetProbesystemTypes("Z A"), 1); // the last name has no blank after it
    EXPECT_TRUE(t.db.IsProbesystemTypeDefined("Z"));
    EXPECT_FALSE(t.db.IsProbesystemTypeDefined("A"));
    EXPECT_EQ(t.db.SetProbesystemTypes(" M A "), 3); // a leading blank gives an empty name
    std::vector<std::string> types;
    for (const char* type = t.db.FirstProbesystemType(); type != nullptr;
         type = t.db.NextProbesystemType())
        types.push_back(type);
    EXPECT_EQ(types, (std::vector<std::string>{"", "A", "M", "Z"}));
    EXPECT_EQ(t.db.NextProbesystemType(), nullptr);

    vyx::trace::TraceCapture capture;
    EXPECT_TRUE(t.db.SetActiveProbesystem("", 0));
    EXPECT_FALSE(t.db.SetActiveProbesystem("", 1));
    EXPECT_FALSE(t.db.SetComponentData("[A]\nk=v\n")); // none active
    EXPECT_EQ(t.db.GetActiveProbeIniName(), "");
    ASSERT_TRUE(t.db.DefineProbesystem({"R85Q", 2}));
    ASSERT_TRUE(t.db.SetActiveProbesystem("R85Q", 2));
    EXPECT_EQ(t.db.GetActiveProbeIniName(), "R85Q_2.ini");
    ASSERT_TRUE(t.db.SetComponentData("[A]\nk=v\n"));
    const std::string before = t.File("probesystemdb.ini");
    EXPECT_TRUE(t.db.SetComponentData("[GENERAL]\nSave=0\n"));
    EXPECT_EQ(t.File("probesystemdb.ini"), before);
    std::string text;
    EXPECT_FALSE(t.db.GetComponentData(text, "R85Q", 1));
    ExpectErrTraces(capture, {"MTessorProbesystemDB::SetActiveProbesystem(, 1): no such id",
                              "MTessorProbesystemDB::GetComponentData(): no such id R85Q:1"});

    MTessorProbesystemDB again(t.dir.Path(), "probesystemdb.ini");
    ASSERT_TRUE(again.Open());
    EXPECT_EQ(again.GetActiveProbesystem() + "/" + std::to_string(again.GetActiveProbesystemId()),
              "R85Q/2");
    ASSERT_TRUE(again.GetComponentData(text, "R85Q", 2));
    EXPECT_EQ(text, "[A]\nk=v\n");

    // Deleting the active one: no active probesystem, the probe file goes, its volatile stays.
    ASSERT_TRUE(WriteFileBytes(t.dir.File("volatile_R85Q_2.ini"), "[Global]\r\n"));
    ASSERT_TRUE(again.DeleteProbesystem("R85Q", 2));
    EXPECT_FALSE(again.HasActiveProbesystem());
    EXPECT_FALSE(PathExists(t.dir.File("R85Q_2.ini")));
    EXPECT_TRUE(PathExists(t.dir.File("volatile_R85Q_2.ini")));
    EXPECT_FALSE(again.DeleteProbesystem("R85Q", 2));

    // A volatile file naming a deleted probesystem: Open works, nothing is active.
    ASSERT_TRUE(WriteFileBytes(t.dir.File("volatile_probesystemdb.ini"),
                               "[Global]\r\nActSystem=R85Q\r\nActId=2\r\n"));
    ASSERT_TRUE(again.Open());
    EXPECT_FALSE(again.HasActiveProbesystem());

    // An older database file keeps the selection itself; Open moves it out.
    ASSERT_TRUE(WriteFileBytes(t.dir.File("probesystemdb.ini"),
                               "[Global]\r\nActSystem=X\r\nActId=4\r\n[X_4]\r\nx=1\r\n"));
    ASSERT_TRUE(again.Open());
    EXPECT_EQ(again.GetActiveProbesystem(), "X");
    EXPECT_EQ(t.File("probesystemdb.ini"), "[X_4]\r\nx=1\r\n");
    EXPECT_EQ(t.File("volatile_probesystemdb.ini"), "[Global]\r\nActSystem=X\r\nActId=4\r\n");
}

TEST(MTessorProbesystemDB, FailedChangesLeaveMemoryAsTheFiles) {
    OpenSystems t;
    ASSERT_TRUE(t.db.DefineProbesystem({"R85Q", 1, 1}));
    ASSERT_TRUE(t.db.DefineProbesystem({"R85Q", 2, 2}));
    ASSERT_TRUE(t.db.SetActiveProbesystem("R85Q", 1));
    const std::string list = Text(t.db.ListProbesystems("*", 0));
    const auto files = Snapshot(t.dir.Path());
    std::string data;
    ASSERT_TRUE(t.db.GetComponentData(data, "R85Q", 1));
    {
        BlockedFolder blocked(t.dir.Path());
        vyx::trace::TraceCapture capture;
        EXPECT_FALSE(t.db.DefineProbesystem({"R85Q", 3}));
        EXPECT_FALSE(t.db.DeleteProbesystem("R85Q", 2));
        EXPECT_FALSE(t.db.SetComponentData("[A]\nk=v\n"));
        EXPECT_EQ(Text(t.db.ListProbesystems("*", 0)), list);
        std::string now;
        ASSERT_TRUE(t.db.GetComponentData(now, "R85Q", 1));
        EXPECT_EQ(now, data);
        // The one exception: the machine has switched already, so memory follows it.
        EXPECT_FALSE(t.db.SetActiveProbesystem("R85Q", 2));
        EXPECT_EQ(t.db.GetActiveProbesystemId(), 2u);
        ExpectErrTraces(capture, {"MTessorProbesystemDB::def_id_in_ini(): inidata.Save() failed",
                                  "MTessorProbesystemDB::delete_id(): inidata.Save() failed"});
    }
    EXPECT_EQ(Snapshot(t.dir.Path()), files);

    // Only the database file cannot be replaced (a folder stands in its place): the probes of
    // the probesystem that stays defined must stay too.
    const std::string dbFile = t.dir.File("probesystemdb.ini");
    std::filesystem::rename(dbFile, dbFile + ".aside");
    std::filesystem::create_directories(dbFile + "/in-the-way");
    EXPECT_FALSE(t.db.DeleteProbesystem("R85Q", 2));
    EXPECT_EQ(t.File("R85Q_2.ini"), files.at("R85Q_2.ini"));
    EXPECT_TRUE(t.db.IsProbesystemIdDefined("R85Q", 2));
    std::filesystem::remove_all(dbFile);
    std::filesystem::rename(dbFile + ".aside", dbFile);

    // The probe database file cannot be made (a folder has its name): the new section is
    // taken out of the database file again.
    std::filesystem::create_directory(t.dir.File("R85Q_3.ini"));
    EXPECT_FALSE(t.db.DefineProbesystem({"R85Q", 3}));
    EXPECT_FALSE(t.db.IsProbesystemIdDefined("R85Q", 3));
    EXPECT_EQ(t.File("probesystemdb.ini"), files.at("probesystemdb.ini"));

    ASSERT_TRUE(t.db.DefineProbesystem({"S", 1}));
    MTessorProbesystemDB again(t.dir.Path(), "probesystemdb.ini");
    ASSERT_TRUE(again.Open());
    EXPECT_EQ(Text(again.ListProbesystems("*", 0)), list + "S/1 0 0 0 0 0 0\n");
}

TEST(MTessorProbesystemDB, OpenRemovesTemporaryFilesOfSavesThatNeverFinished) {
    TempDir dir;
    const std::vector<std::string> leftovers = {"ffwAb3d9Z.tmp", "ffw1A2B.TMP"};
    const std::vector<std::string> kept = {"ffw.tmp", "ffwlongername.tmp", "other.tmp"};
    for (const auto& list : {leftovers, kept})
        for (const std::string& name : list)
            ASSERT_TRUE(WriteFileBytes(dir.File(name), "[A]\r\n"));
#if !defined(_WIN32)
    // One that a living writer still has open, as a save holds its own.
    const std::string busy = dir.File("ffwBusy01.tmp");
    ASSERT_TRUE(WriteFileBytes(busy, ""));
    const int held = open(busy.c_str(), O_RDONLY);
    ASSERT_EQ(flock(held, LOCK_EX), 0);
#endif
    MTessorProbesystemDB db(dir.Path(), "probesystemdb.ini");
    ASSERT_TRUE(db.Open());
    for (const std::string& name : leftovers)
        EXPECT_FALSE(PathExists(dir.File(name))) << name;
    for (const std::string& name : kept)
        EXPECT_TRUE(PathExists(dir.File(name))) << name;
#if !defined(_WIN32)
    EXPECT_TRUE(PathExists(busy));
    close(held);
#endif
}
