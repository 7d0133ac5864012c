#include "lintel/server/machine/mmachmagazinedb.h"
#include "platform/trace/tracecapture.h"
#include "tests/lintel/server/testmachine.h"
#include "tests/support/testsupport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <functional>
#include <set>

#if !defined(_WIN32)
#include <sys/resource.h>
#endif

using vyx::test::ReadFileBytes;
using vyx::test::WriteFileBytes;
using Slots = std::map<uint32_t, uint32_t>;
using Lines = std::vector<std::string>;

namespace {

// The magazine asks the machine which probesystems exist and which one is active.
struct Machine : TestMachine {
    std::map<std::string, std::set<uint32_t>> defined{{"Optic", {1, 2}}, {"my_probe", {1}}};
    std::pair<std::string, uint32_t> active{"Optic", 2};

    bool IsProbesystemDefined(const std::string& name) override { return defined.count(name); }
    bool IsProbesystemIdDefined(const std::string& name, uint32_t id) override {
        return defined.count(name) && defined[name].count(id);
    }
    std::string GetActiveProbesystem() override { return active.first; }
    uint32_t GetActiveProbesystemId() override { return active.second; }
};

// Runs a change while every file write of this process fails (reads still work). Check
// results after it, so that failure output written meanwhile is not lost.
template <typename Change> int WithWritesFailing(Change change) {
#if defined(_WIN32)
    // No such limit on Windows, and Wine honours no access rules that would stop root: the
    // test that needs this is on the list of tests that do not run under Wine.
    ADD_FAILURE() << "writes cannot be made to fail here";
    return change() == 0 ? -1 : -2;
#else
    rlimit saved{};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    rlimit none{0, saved.rlim_max};
    std::signal(SIGXFSZ, SIG_IGN);
    ::setrlimit(RLIMIT_FSIZE, &none);
    int result = change();
    ::setrlimit(RLIMIT_FSIZE, &saved);
    return result;
#endif
}

const std::string kMagazine =
    "[HISTORY]\nchanged=by hand\n"
    "[Optic_1_slot1]\nprobe=5\nload.program=L\nunload.program=U\n"
    "[Optic_2_slot1]\nprobe=5\nload.program=\"LOAD 1\"\n"
    "unload.program=\"UNLOAD 1\"\nchange_to_3.program=\"C 1 3\"\n"
    "change_to_9.program=C 1 9\nchange_to_x.program=ignored\n"
    "[Optic_2_slot2]\nprobe = 7\nload.program=\"L2\nunload.program=U2\"\n"
    "[Optic_2_slot3]\nload.program=LOAD 3; G1 X0 \nunload.program=UNLOAD 3\n"
    "[my_probe_1_slot4]\nprobe=5\nload.program=\"\"\nunload.program=\"\n";
const Slots kOptic2{{1, 5}, {2, 7}, {3, 0}};

class Magazine : public ::testing::Test {
protected:
    bool Load(const std::string& text) { return WriteFileBytes(path, text) && magazine.Open(); }
    Slots Active() { return magazine.GetSlots("", 0); }

    vyx::trace::TraceCapture capture;
    vyx::test::TempDir dir;
    std::string path = dir.File("magazine.ini");
    Machine machine;
    MMachMagazineDB magazine{path, machine};
};

std::string Split(const std::string& section) {
    std::string name = "?";
    uint32_t id = 0, slot = 0;
    if (!MMachMagazineDB::split_section_name(section, name, id, slot))
        return "refused";
    return name + "|" + std::to_string(id) + "|" + std::to_string(slot);
}

} // namespace

TEST(MagazineSectionName, SplitsAtTheLastTwoUnderscores) {
    vyx::trace::TraceCapture capture;
    EXPECT_EQ(Split("_4294967295_slot0"), "|4294967295|0");
    EXPECT_EQ(Split("Optic"), "refused");
    EXPECT_EQ(Split("Optic_slot3"), "refused");
    EXPECT_EQ(capture.ErrTrace(),
              (Lines{"split_section_name(): no '_' found in Optic",
                     "split_section_name(): no second '_' found in Optic_slot3"}));
    // The numbers are read as the C library's scan reads "%u_slot%u".
    const std::pair<const char*, const char*> names[] = {
        {"Optic_02_slot003", "Optic|2|3"},  {"Optic_ 2_slot 3", "Optic|2|3"},
        {"Optic_2_slot3 old", "Optic|2|3"}, {"Optic_-2_slot3", "Optic|4294967294|3"},
        {"Optic_2_slot", "refused"},        {"Optic_2_Slot3", "refused"},
    };
    for (const auto& [section, split] : names)
        EXPECT_EQ(Split(section), split) << section;
}

TEST_F(Magazine, AnswersForTheActiveProbesystem) {
    ASSERT_TRUE(Load(kMagazine)) << capture.Dump();
    EXPECT_EQ(Active(), kOptic2);
    EXPECT_EQ(magazine.GetSlotOfProbe(5), 1u);
    EXPECT_EQ(magazine.GetSlotOfProbe(0), 3u); // the first empty slot
    EXPECT_EQ(magazine.GetSlotOfProbe(8), 0u);
    EXPECT_EQ(magazine.GetLoadProgram(2), "\"L2"); // one quote only: unchanged
    EXPECT_EQ(magazine.GetUnloadProgram(2), "U2\"");
    EXPECT_EQ(magazine.GetLoadProgram(3), "LOAD 3; G1 X0 "); // no comment stripping or trimming
    EXPECT_EQ(magazine.GetLoadProgram(4), "");               // slot 4 belongs to my_probe
    EXPECT_EQ(magazine.FindSlot(1)->changePrograms,
              (std::map<uint32_t, std::string>{{3, "\"C 1 3\""}, {9, "C 1 9"}}));
    EXPECT_EQ(magazine.GetSlots("Optic", 1), (Slots{{1, 5}}));
    EXPECT_EQ(magazine.GetSlots("", 2), Slots{});

    machine.active = {"my_probe", 1};
    EXPECT_EQ(magazine.GetSlotOfProbe(5), 4u);
    EXPECT_EQ(magazine.GetLoadProgram(4), "");     // '""' loses its quotes
    EXPECT_EQ(magazine.GetUnloadProgram(4), "\""); // a lone quote is no pair
    machine.active = {"", 0};
    EXPECT_EQ(magazine.GetSlotOfProbe(0), 0u); // no slots: no empty one either
    EXPECT_TRUE(capture.ErrTrace().empty()) << capture.Dump();
}

TEST_F(Magazine, ChangeProgramsAndSendsThatReplaceTheFileOnlyWhenValid) {
    ASSERT_TRUE(Load(kMagazine)) << capture.Dump();
    EXPECT_EQ(magazine.GetChangeProgram(1, 3), "C 1 3");
    EXPECT_EQ(magazine.GetChangeProgram(1, 9), "C 1 9"); // its own program needs no slot 9
    EXPECT_EQ(magazine.GetChangeProgram(9, 1), "");
    // Quotes go only when the joined text both starts and ends with one.
    EXPECT_EQ(magazine.GetChangeProgram(3, 1), "UNLOAD 3;\"LOAD 1\"");
    EXPECT_EQ(magazine.GetChangeProgram(1, 2), "\"UNLOAD 1\";\"L2");

    // Send replaces the file only with a valid magazine.
    EXPECT_FALSE(magazine.Send("[Tactile_1_slot1]\nload.program=L\nunload.program=U\n"));
    EXPECT_FALSE(magazine.Send("[Optic_2_slot1\n"));
    EXPECT_EQ(capture.CountErrTrace("MMachMagazineDB::Send(): analyse_inifile() failed"), 1);
    EXPECT_EQ(capture.CountErrTrace("MMachMagazineDB::Send(): SetContentString() failed"), 1);
    EXPECT_EQ(ReadFileBytes(path), kMagazine);
    EXPECT_EQ(Active(), kOptic2);

    ASSERT_TRUE(magazine.Send("[Optic_2_slot1]\nload.program=L1\nunload.program=U1\n"
                              "[Optic_2_slot2]\nload.program=\"L2\"\nunload.program=\"A\"\"B\"\n"
                              "[Optic_2_slot3]\nload.program=L3\nunload.program=X\"\"Y\"\"Z\n"
                              "[Optic_2_slot4]\nload.program=\"L4\"\nunload.program=\"U4\"\n"))
        << capture.Dump();
    EXPECT_EQ(magazine.GetChangeProgram(1, 3), "U1;L3");
    EXPECT_EQ(magazine.GetChangeProgram(4, 2), "U4\";\"L2");
    // The first doubled quote left becomes ';', and only the first.
    EXPECT_EQ(magazine.GetChangeProgram(2, 2), "A;B\";\"L2");
    EXPECT_EQ(magazine.GetChangeProgram(2, 1), "\"A;B\";L1");
    EXPECT_EQ(magazine.GetChangeProgram(3, 2), "X;Y\"\"Z;\"L2\"");
    ASSERT_TRUE(magazine.Send("[Optic_2_slot2]\nprobe=3\nload.program=L\nunload.program=U\n"));
    EXPECT_EQ(ReadFileBytes(path), "[Optic_2_slot2]\r\nprobe=3\r\nload.program=L\r\n"
                                   "unload.program=U\r\n");
    EXPECT_EQ(Active(), (Slots{{2, 3}}));
}

TEST_F(Magazine, OpenSkipsDamagedSectionsAndKeepsTheRest) {
    const std::string a = std::string(100, 'n') + "a", b = std::string(100, 'n') + "b";
    machine.defined[a] = machine.defined[b] = {1}; // alike in their first 100 characters
    const std::string prog = "load.program=L\nunload.program=U\n";
    const std::string analyse = "MMachMagazineDB::analyse_inifile(): ";
    const struct {
        std::string extra, skipped, cause;
    } cases[] = {
        {"[Optic_2_x]\n", "Optic_2_x",
         "split_section_name(): could not parse '%u_slot%u' in Optic_2_x"},
        {"[Tactile_1_slot1]\n" + prog, "Tactile_1_slot1", "Probesystem \"Tactile\" not defined"},
        {"[Optic_7_slot1]\n" + prog, "Optic_7_slot1", "Probesystem id 7 not defined for \"Optic\""},
        {"[Optic_2_slot5]\nunload.program=U\n", "Optic_2_slot5",
         "Entry load.program is missing in section \"Optic_2_slot5\""},
        {"[Optic_2_slot5]\nload.program=L\n", "Optic_2_slot5",
         "Entry unload.program is missing in section \"Optic_2_slot5\""},
        // Slot 1 of Optic 2 a second time: the first section in name order keeps it.
        {"[Optic_2_slot1x]\n" + prog, "Optic_2_slot1x",
         "Slot 1 exists more than once for \"Optic\" 2"},
        {"[" + a + "_1_slot1]\n" + prog + "[" + b + "_1_slot1]\n" + prog,
         (b + "_1_slot1").substr(0, 50),
         "Slot 1 exists more than once for \"" + b.substr(0, 50) + "\" 1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.extra);
        capture.Clear();
        EXPECT_TRUE(Load(kMagazine + c.extra));
        EXPECT_EQ(capture.CountErrLog(analyse + "section \"" + c.skipped + "\" skipped"), 1)
            << capture.Dump();
        EXPECT_EQ(capture.CountErrLog(c.cause), 1) << capture.Dump();
        EXPECT_EQ(Active(), kOptic2);
    }

    ASSERT_TRUE(Load(kMagazine));
    EXPECT_FALSE(Load("probe=1\n" + kMagazine));
    EXPECT_EQ(capture.CountErrTrace("MMachMagazineDB::Open(): inidata.Open(\"" +
                                    path.substr(0, 50) + "\") failed"),
              1);
    EXPECT_EQ(Active(), Slots{});
    std::filesystem::remove(path);
    EXPECT_TRUE(magazine.Open()); // no file yet: an empty magazine
}

TEST_F(Magazine, ChangesReachTheSectionTheSlotWasReadFrom) {
    ASSERT_TRUE(Load("[Optic_2_slot01]\nprobe=4\nload.program=L1\nunload.program=U1\n"
                     "[Optic_002_slot2]\nprobe=4\nload.program=L2\nunload.program=U2\n"));
    EXPECT_EQ(Active(), (Slots{{1, 4}, {2, 4}}));
    ASSERT_TRUE(magazine.SetSlot(2, 9));
    EXPECT_EQ(magazine.DeleteProbe(4), 1);
    EXPECT_EQ(ReadFileBytes(path), "[Optic_002_slot2]\r\nprobe=9\r\nload.program=L2\r\n"
                                   "unload.program=U2\r\n[Optic_2_slot01]\r\nprobe=0\r\n"
                                   "load.program=L1\r\nunload.program=U1\r\n");
    ASSERT_EQ(magazine.DeleteProbesystem("Optic", 2), 1);
    EXPECT_EQ(ReadFileBytes(path), "");
    EXPECT_TRUE(capture.ErrLog().empty()) << capture.Dump();
}

TEST_F(Magazine, ChangesAreSavedAtOnceOnlyWhereTheyBelong) {
    ASSERT_TRUE(Load(kMagazine));
    machine.Attach(nullptr, nullptr, &magazine);
    MMachAbstract& server = machine; // the machine's operations reach the magazine
    EXPECT_TRUE(server.SetSlot(3, 8));
    EXPECT_EQ(server.GetLoadProgram(1) + server.GetUnloadProgram(3) + server.GetChangeProgram(1, 3),
              "LOAD 1UNLOAD 3C 1 3");
    machine.hide = true; // only through the presence query
    EXPECT_FALSE(server.FindSlot(3) || server.SetSlot(3, 9));
    EXPECT_EQ(server.GetSlotOfProbe(8), 0u);
    EXPECT_EQ(server.GetLoadProgram(1) + server.GetUnloadProgram(3) + server.GetChangeProgram(1, 3),
              "");
    EXPECT_TRUE(server.GetSlots("", 0).empty());
    machine.hide = false;
    EXPECT_EQ(server.GetSlotOfProbe(8), 3u);
    EXPECT_TRUE(magazine.SetSlot(1, 4000000000u));
    EXPECT_EQ(magazine.DeleteProbe(7), 1);
    EXPECT_EQ(magazine.DeleteProbe(6), 1); // held nowhere: nothing to do
    EXPECT_EQ(magazine.DeleteProbesystem("my_probe", 1), 1);
    EXPECT_TRUE(capture.ErrTrace().empty()) << capture.Dump();

    const Slots optic2{{1, 4000000000u}, {2, 0}, {3, 8}};
    EXPECT_EQ(server.GetSlots("", 0), optic2);
    const std::string file = ReadFileBytes(path);
    for (const char* part : {"[HISTORY]\r\nchanged=by hand\r\n", "[Optic_2_slot2]\r\nprobe =0\r\n",
                             "unload.program=UNLOAD 3\r\nprobe=8\r\n"})
        EXPECT_NE(file.find(part), std::string::npos) << part << "\n" << file;
    EXPECT_EQ(file.find("my_probe"), std::string::npos) << file;
    MMachMagazineDB other(path, machine);
    ASSERT_TRUE(other.Open());
    EXPECT_EQ(other.GetSlots("", 0), optic2);

    EXPECT_FALSE(magazine.SetSlot(4, 1));
    machine.active = {"", 0};
    EXPECT_FALSE(magazine.SetSlot(1, 1));
    EXPECT_EQ(capture.ErrTrace(), (Lines{"MMachMagazineDB::SetSlot(): slot number 4 not found",
                                         "MMachMagazineDB::SetSlot(): probesystem _0 not found"}));
    EXPECT_EQ(ReadFileBytes(path), file);
}

TEST_F(Magazine, FailedChangeLeavesTheFileAndReadsMemoryBackFromIt) {
    ASSERT_TRUE(Load(kMagazine));
    // Someone else changed the file meanwhile: memory must follow the file, not the past.
    const std::string edited = kMagazine + "[Optic_2_slot6]\nload.program=L\nunload.program=U\n";
    ASSERT_TRUE(WriteFileBytes(path, edited));
    const Slots fromFile{{1, 5}, {2, 7}, {3, 0}, {6, 0}};
    const std::pair<const char*, std::function<int()>> changes[] = {
        {"SetSlot(): inidata.Save()", [&] { return int(magazine.SetSlot(1, 8)); }},
        {"DeleteProbe(): inidata.Save()", [&] { return magazine.DeleteProbe(7); }},
        {"DeleteProbesystem(): inidata.Save()",
         [&] { return magazine.DeleteProbesystem("Optic", 2); }},
        {"Send(): Save()", [&] {
             return int(magazine.Send("[Optic_2_slot1]\nload.program=L\nunload.program=U\n"));
         }}};
    for (const auto& [line, change] : changes) {
        EXPECT_EQ(WithWritesFailing(change), 0) << line;
        EXPECT_EQ(Active(), fromFile) << line;
        EXPECT_EQ(capture.CountErrTrace(std::string("MMachMagazineDB::") + line + " failed"), 1)
            << line;
    }
    EXPECT_EQ(capture.CountErrTrace("resync_inifile"), 0);
    EXPECT_EQ(ReadFileBytes(path), edited);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);

    // A file with a damaged section keeps every other slot.
    ASSERT_TRUE(WriteFileBytes(path, edited + "[Optic_2_x]\n"));
    EXPECT_EQ(WithWritesFailing([&] { return int(magazine.SetSlot(1, 8)); }), 0);
    EXPECT_EQ(capture.CountErrTrace("MMachMagazineDB::resync_inifile(): analyse_inifile() failed"),
              1);
    EXPECT_EQ(capture.CountErrLog("section \"Optic_2_x\" skipped"), 1);
    EXPECT_EQ(Active(), fromFile);
    EXPECT_EQ(magazine.GetSlots("my_probe", 1), (Slots{{4, 5}}));

    // A file that no longer reads to its end is never saved back from the part that was read.
    const std::string garbled = "[Optic_2_slot1]\nload.program=L\nunload.program=U\n[broken\n";
    ASSERT_TRUE(WriteFileBytes(path, garbled));
    EXPECT_EQ(WithWritesFailing([&] { return int(magazine.SetSlot(1, 8)); }), 0);
    EXPECT_EQ(capture.CountErrTrace("MMachMagazineDB::resync_inifile(): inidata.Reload() failed"),
              1);
    EXPECT_EQ(Active(), Slots{});
    EXPECT_FALSE(magazine.SetSlot(1, 9));
    EXPECT_EQ(ReadFileBytes(path), garbled);
}
