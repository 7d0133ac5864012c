#include "lintel/server/machine/mmachabstract.h"
#include "lintel/server/machine/mmachmagazinedb.h"
#include "platform/trace/tracecapture.h"
#include "tests/support/testsupport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <set>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <utility>

using vyx::test::ReadFileBytes;
using vyx::test::WriteFileBytes;

namespace {

class Probesystems : public MMachProbesystemDB {
public:
    std::set<std::pair<std::string, uint32_t>> defined;
    std::string activeName;
    uint32_t activeId = 0;

    bool IsProbesystemDefined(const std::string& name) override {
        auto it = defined.lower_bound({name, 0});
        return it != defined.end() && it->first == name;
    }
    bool IsProbesystemIdDefined(const std::string& name, uint32_t id) override {
        return defined.count({name, id}) != 0;
    }
    bool HasActiveProbesystem() override { return !activeName.empty(); }
    std::string GetActiveProbesystem() override { return activeName; }
    uint32_t GetActiveProbesystemId() override { return activeId; }
    bool SetActiveProbesystem(const std::string& name, uint32_t id) override {
        activeName = name;
        activeId = id;
        return true;
    }
    bool IsProbesystemTypeDefined(const std::string&) override { return false; }
    const char* FirstProbesystemType() override { return nullptr; }
    const char* NextProbesystemType() override { return nullptr; }
    std::vector<ProbesystemRecord> ListProbesystems(const std::string&, uint32_t) override {
        return {};
    }
    bool DefineProbesystem(const ProbesystemRecord&) override { return false; }
    bool DeleteProbesystem(const std::string&, uint32_t) override { return false; }
};

class Machine : public MMachAbstract {
public:
    explicit Machine(MMachProbesystemDB* probesystems) : MMachAbstract(nullptr, nullptr, "m", "/") {
        probesystemDB = probesystems;
    }
    void AttachMagazine(MMachMagazineDB* magazine) { magazineDB = magazine; }
    bool Open() override { return true; }
    bool Close() override { return true; }
    void PollAsyncErrors() override {}
    std::string GetSensorName() override { return {}; }
    std::string GetVersion() override { return {}; }
    std::string GetSensorSerialNo() override { return {}; }
    const MMachAxis* FindAxis(const std::string&) override { return nullptr; }
    const MMachAxis* FirstAxis() override { return nullptr; }
    const MMachAxis* NextAxis() override { return nullptr; }
    double GetAxisValue(const std::string&) override { return 0.0; }
    bool NotProvided97() override { return true; }
};

// Every file write of this process fails while it lives; reads still work.
class WritesFail {
public:
    WritesFail() {
        ::getrlimit(RLIMIT_FSIZE, &saved);
        rlimit none = saved;
        none.rlim_cur = 0;
        previous = std::signal(SIGXFSZ, SIG_IGN);
        ::setrlimit(RLIMIT_FSIZE, &none);
    }
    ~WritesFail() {
        ::setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, previous);
    }

private:
    rlimit saved{};
    void (*previous)(int) = nullptr;
};

const char kMagazine[] = "[HISTORY]\n"
                         "changed=by hand\n"
                         "[Optic_1_slot1]\n"
                         "probe=5\n"
                         "load.program=L\n"
                         "unload.program=U\n"
                         "[Optic_2_slot1]\n"
                         "probe=5\n"
                         "load.program=\"LOAD 1\"\n"
                         "unload.program=\"UNLOAD 1\"\n"
                         "change_to_3.program=\"C 1 3\"\n"
                         "change_to_9.program=C 1 9\n"
                         "change_to_x.program=ignored\n"
                         "[Optic_2_slot2]\n"
                         "probe = 7\n"
                         "load.program=\"L2\n"
                         "unload.program=U2\"\n"
                         "[Optic_2_slot3]\n"
                         "load.program=LOAD 3; G1 X0 \n"
                         "unload.program=UNLOAD 3\n"
                         "[my_probe_1_slot4]\n"
                         "probe=5\n"
                         "load.program=\"\"\n"
                         "unload.program=\"\n";

class Magazine : public ::testing::Test {
protected:
    Magazine() : machine(&systems), magazine(path, machine) {
        systems.defined = {{"Optic", 1}, {"Optic", 2}, {"my_probe", 1}, {"Zeta", 1}};
        systems.SetActiveProbesystem("Optic", 2);
    }
    // Writes the file and opens the magazine on it.
    bool Load(const std::string& text) { return WriteFileBytes(path, text) && magazine.Open(); }
    std::map<uint32_t, uint32_t> Active() { return magazine.GetSlots("", 0); }

    vyx::trace::TraceCapture capture;
    vyx::test::TempDir dir;
    std::string path = dir.File("magazine.ini");
    Probesystems systems;
    Machine machine;
    MMachMagazineDB magazine;
};

using Slots = std::map<uint32_t, uint32_t>;

} // namespace

TEST(MagazineSectionName, SplitsAtTheLastTwoUnderscores) {
    vyx::trace::TraceCapture capture;
    std::string name;
    uint32_t id = 0, slot = 0;
    ASSERT_TRUE(MMachMagazineDB::split_section_name("Optic_2_slot3", name, id, slot));
    EXPECT_EQ(name + "/" + std::to_string(id) + "/" + std::to_string(slot), "Optic/2/3");
    ASSERT_TRUE(MMachMagazineDB::split_section_name("my_probe_1_slot4", name, id, slot));
    EXPECT_EQ(name + "/" + std::to_string(id) + "/" + std::to_string(slot), "my_probe/1/4");
    ASSERT_TRUE(MMachMagazineDB::split_section_name("_4294967295_slot0", name, id, slot));
    EXPECT_EQ(name + "/" + std::to_string(id) + "/" + std::to_string(slot), "/4294967295/0");

    EXPECT_FALSE(MMachMagazineDB::split_section_name("Optic", name, id, slot));
    EXPECT_FALSE(MMachMagazineDB::split_section_name("Optic_slot3", name, id, slot));
    EXPECT_FALSE(MMachMagazineDB::split_section_name("Optic_2_x", name, id, slot));
    EXPECT_EQ(capture.ErrTrace(),
              (std::vector<std::string>{"split_section_name(): no '_' found in Optic",
                                        "split_section_name(): no second '_' found in Optic_slot3",
                                        "split_section_name(): could not parse '%u_slot%u' in "
                                        "Optic_2_x"}));
    // Anything the magazine would not write back under the same name is refused: a change
    // of such a slot would land in another section.
    for (const char* bad : {"Optic_2_slot", "Optic__slot3", "Optic_-2_slot3", "Optic_ 2_slot3",
                            "Optic_+2_slot3", "Optic_02_slot3", "Optic_2_slot03", "Optic_2_slot3 ",
                            "Optic_2_Slot3", "Optic_4294967296_slot1"})
        EXPECT_FALSE(MMachMagazineDB::split_section_name(bad, name, id, slot)) << bad;
}

TEST_F(Magazine, AnswersForTheActiveProbesystem) {
    ASSERT_TRUE(Load(kMagazine)) << capture.Dump();
    EXPECT_EQ(Active(), (Slots{{1, 5}, {2, 7}, {3, 0}}));
    EXPECT_EQ(magazine.GetSlotOfProbe(5), 1u);
    EXPECT_EQ(magazine.GetSlotOfProbe(7), 2u);
    EXPECT_EQ(magazine.GetSlotOfProbe(0), 3u); // the first empty slot
    EXPECT_EQ(magazine.GetSlotOfProbe(8), 0u);
    EXPECT_EQ(magazine.FindSlot(4), nullptr); // slot 4 belongs to my_probe
    EXPECT_EQ(magazine.GetLoadProgram(1), "LOAD 1");
    EXPECT_EQ(magazine.GetUnloadProgram(1), "UNLOAD 1");
    EXPECT_EQ(magazine.GetLoadProgram(2), "\"L2"); // one quote only: unchanged
    EXPECT_EQ(magazine.GetUnloadProgram(2), "U2\"");
    EXPECT_EQ(magazine.GetLoadProgram(3), "LOAD 3; G1 X0 "); // no comment stripping, no trimming
    EXPECT_EQ(magazine.GetLoadProgram(4), "");
    EXPECT_EQ(magazine.FindSlot(1)->changePrograms,
              (std::map<uint32_t, std::string>{{3, "\"C 1 3\""}, {9, "C 1 9"}}));

    EXPECT_EQ(magazine.GetSlots("Optic", 1), (Slots{{1, 5}}));
    EXPECT_EQ(magazine.GetSlots("my_probe", 1), (Slots{{4, 5}}));
    EXPECT_EQ(magazine.GetSlots("Zeta", 1), Slots{});
    EXPECT_EQ(magazine.GetSlots("", 2), Slots{});

    systems.SetActiveProbesystem("my_probe", 1);
    EXPECT_EQ(magazine.GetSlotOfProbe(5), 4u);
    EXPECT_EQ(magazine.GetLoadProgram(4), "");     // '""' loses its quotes
    EXPECT_EQ(magazine.GetUnloadProgram(4), "\""); // a lone quote is no pair
    systems.SetActiveProbesystem("", 0);
    EXPECT_EQ(magazine.GetSlotOfProbe(0), 0u);
    EXPECT_EQ(Active(), Slots{});
    EXPECT_TRUE(capture.ErrTrace().empty()) << capture.Dump();
}

TEST_F(Magazine, ChangeProgramIsTheSlotsOwnOrUnloadThenLoad) {
    ASSERT_TRUE(Load(kMagazine)) << capture.Dump();
    EXPECT_EQ(magazine.GetChangeProgram(1, 3), "C 1 3");
    EXPECT_EQ(magazine.GetChangeProgram(1, 9), "C 1 9"); // its own program needs no slot 9
    EXPECT_EQ(magazine.GetChangeProgram(3, 9), "");
    EXPECT_EQ(magazine.GetChangeProgram(9, 1), "");
    // Quotes go only when the joined text both starts and ends with one.
    EXPECT_EQ(magazine.GetChangeProgram(3, 1), "UNLOAD 3;\"LOAD 1\"");
    EXPECT_EQ(magazine.GetChangeProgram(1, 2), "\"UNLOAD 1\";\"L2");

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
}

TEST_F(Magazine, OpenRefusesAnInvalidMagazineAndKnowsNoSlot) {
    struct Case {
        std::string extra;
        std::vector<std::string> lines;
    };
    const std::string a = std::string(100, 'n') + "a", b = std::string(100, 'n') + "b";
    systems.defined.insert({{a, 1}, {b, 1}});
    const std::string prog = "load.program=L\nunload.program=U\n";
    const Case cases[] = {
        {"[Optic_2_x]\n",
         {"split_section_name(): could not parse '%u_slot%u' in Optic_2_x",
          "MMachMagazineDB::analyse_inifile(): split_section_name(\"Optic_2_x\") failed"}},
        {"[Tactile_1_slot1]\n" + prog,
         {"MMachMagazineDB::analyse_inifile(): Probesystem \"Tactile\" not defined"}},
        {"[Optic_7_slot1]\n" + prog,
         {"MMachMagazineDB::analyse_inifile(): Probesystem id 7 not defined for \"Optic\""}},
        {"[Optic_2_slot5]\nunload.program=U\n",
         {"MMachMagazineDB::analyse_inifile(): Entry load.program is missing in section "
          "\"Optic_2_slot5\""}},
        {"[Optic_2_slot5]\nload.program=L\n",
         {"MMachMagazineDB::analyse_inifile(): Entry unload.program is missing in section "
          "\"Optic_2_slot5\""}},
        {"[" + a + "_1_slot1]\n" + prog + "[" + b + "_1_slot1]\n" + prog,
         {"MMachMagazineDB::analyse_inifile(): Slot 1 exists more than once for \"" +
          b.substr(0, 50) + "\" 1"}},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(Load(kMagazine));
        capture.Clear();
        EXPECT_FALSE(Load(kMagazine + c.extra)) << c.extra;
        std::vector<std::string> expected = c.lines;
        expected.push_back("MMachMagazineDB::Open(): analyse_inifile() failed");
        EXPECT_EQ(capture.ErrTrace(), expected);
        EXPECT_EQ(Active(), Slots{}) << c.extra;
        EXPECT_EQ(magazine.GetSlots("Optic", 1), Slots{}) << c.extra;
    }

    ASSERT_TRUE(Load(kMagazine));
    capture.Clear();
    EXPECT_FALSE(Load("probe=1\n" + std::string(kMagazine)));
    EXPECT_EQ(capture.CountErrTrace("MMachMagazineDB::Open(): inidata.Open(\"" +
                                    path.substr(0, 50) + "\") failed"),
              1);
    EXPECT_EQ(Active(), Slots{});

    ASSERT_TRUE(WriteFileBytes(path, kMagazine));
    EXPECT_TRUE(magazine.Open());
    ::unlink(path.c_str());
    EXPECT_TRUE(magazine.Open()); // no file yet: an empty magazine
    EXPECT_EQ(Active(), Slots{});
}

TEST_F(Magazine, ChangesAreSavedAtOnceAndOnlyWhereTheyBelong) {
    ASSERT_TRUE(Load(kMagazine));
    EXPECT_TRUE(magazine.SetSlot(3, 8));
    EXPECT_TRUE(magazine.SetSlot(1, 4000000000u));
    EXPECT_EQ(magazine.DeleteProbe(7), 1);
    EXPECT_EQ(magazine.DeleteProbe(6), 1); // held nowhere: nothing to do
    EXPECT_EQ(magazine.DeleteProbesystem("my_probe", 1), 1);
    EXPECT_EQ(magazine.DeleteProbesystem("Zeta", 1), 1);
    EXPECT_TRUE(capture.ErrTrace().empty()) << capture.Dump();

    const Slots optic2{{1, 4000000000u}, {2, 0}, {3, 8}};
    EXPECT_EQ(Active(), optic2);
    EXPECT_EQ(magazine.GetSlots("Optic", 1), (Slots{{1, 5}}));
    EXPECT_EQ(magazine.GetSlots("my_probe", 1), Slots{});
    const std::string file = ReadFileBytes(path);
    EXPECT_NE(file.find("[Optic_2_slot3]\r\nload.program=LOAD 3; G1 X0 \r\n"
                        "unload.program=UNLOAD 3\r\nprobe=8\r\n"),
              std::string::npos)
        << file;
    EXPECT_NE(file.find("[Optic_2_slot2]\r\nprobe =0\r\n"), std::string::npos) << file;
    EXPECT_NE(file.find("[HISTORY]\r\nchanged=by hand\r\n"), std::string::npos) << file;
    EXPECT_EQ(file.find("my_probe"), std::string::npos) << file;

    // A second magazine on the same file reads what the first one saved.
    MMachMagazineDB other(path, machine);
    ASSERT_TRUE(other.Open());
    EXPECT_EQ(other.GetSlots("", 0), optic2);
    EXPECT_EQ(other.GetSlots("Optic", 1), (Slots{{1, 5}}));

    EXPECT_FALSE(magazine.SetSlot(4, 1));
    systems.SetActiveProbesystem("", 0);
    EXPECT_FALSE(magazine.SetSlot(1, 1));
    EXPECT_EQ(capture.ErrTrace(),
              (std::vector<std::string>{"MMachMagazineDB::SetSlot(): slot number 4 not found",
                                        "MMachMagazineDB::SetSlot(): probesystem _0 not found"}));
    EXPECT_EQ(ReadFileBytes(path), file);
}

TEST_F(Magazine, FailedChangeLeavesTheFileAndReadsMemoryBackFromIt) {
    ASSERT_TRUE(Load(kMagazine));
    const std::string file = ReadFileBytes(path);
    // Someone else changed the file meanwhile: the resynchronisation must pick that up.
    const std::string edited = file + "[Optic_2_slot6]\r\nload.program=L\r\nunload.program=U\r\n";
    ASSERT_TRUE(WriteFileBytes(path, edited));
    const Slots fromFile{{1, 5}, {2, 7}, {3, 0}, {6, 0}};
    // Results are checked once writing works again, so that failure output is not lost.
    int results[4];
    Slots after[4];
    {
        WritesFail fail;
        results[0] = magazine.SetSlot(1, 8);
        after[0] = Active();
        results[1] = magazine.DeleteProbe(7);
        after[1] = Active();
        results[2] = magazine.DeleteProbesystem("Optic", 2);
        after[2] = Active();
        results[3] = magazine.Send("[Optic_2_slot1]\nload.program=L\nunload.program=U\n");
        after[3] = Active();
    }
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(results[i], 0) << i;
        EXPECT_EQ(after[i], fromFile) << i;
    }
    EXPECT_EQ(capture.CountErrTrace("MMachMagazineDB::SetSlot(): inidata.Save() failed"), 1);
    EXPECT_EQ(capture.CountErrTrace("MMachMagazineDB::DeleteProbe(): inidata.Save() failed"), 1);
    EXPECT_EQ(capture.CountErrTrace("MMachMagazineDB::DeleteProbesystem(): inidata.Save() failed"),
              1);
    EXPECT_EQ(capture.CountErrTrace("MMachMagazineDB::Send(): Save() failed"), 1);
    EXPECT_EQ(capture.CountErrTrace("MMachMagazineDB::resync_inifile()"), 0);
    EXPECT_EQ(ReadFileBytes(path), edited);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}),
              1); // no leftovers

    // A file that no longer analyses keeps the slots read before the bad section in name
    // order (Optic_2_slot1 to 6), and loses the rest (my_probe).
    ASSERT_TRUE(WriteFileBytes(path, edited + "[Optic_2_x]\r\n"));
    capture.Clear();
    bool set = true;
    {
        WritesFail fail;
        set = magazine.SetSlot(1, 8);
    }
    EXPECT_FALSE(set);
    EXPECT_EQ(capture.CountErrTrace("MMachMagazineDB::resync_inifile(): analyse_inifile() failed"),
              1);
    EXPECT_EQ(Active(), fromFile);
    EXPECT_EQ(magazine.GetSlots("Optic", 1), (Slots{{1, 5}}));
    EXPECT_EQ(magazine.GetSlots("my_probe", 1), Slots{});
}

TEST_F(Magazine, SendReplacesTheFileOnlyWithAValidMagazine) {
    ASSERT_TRUE(Load(kMagazine));
    const std::string file = ReadFileBytes(path);
    EXPECT_FALSE(magazine.Send("[Tactile_1_slot1]\nload.program=L\nunload.program=U\n"));
    EXPECT_FALSE(magazine.Send("[Optic_2_slot1\n"));
    EXPECT_EQ(capture.CountErrTrace("MMachMagazineDB::Send(): analyse_inifile() failed"), 1);
    EXPECT_EQ(capture.CountErrTrace("MMachMagazineDB::Send(): SetContentString() failed"), 1);
    EXPECT_EQ(ReadFileBytes(path), file);
    EXPECT_EQ(Active(), (Slots{{1, 5}, {2, 7}, {3, 0}}));

    ASSERT_TRUE(magazine.Send("[Optic_2_slot2]\nprobe=3\nload.program=L\nunload.program=U\n"));
    EXPECT_EQ(ReadFileBytes(path), "[Optic_2_slot2]\r\nprobe=3\r\nload.program=L\r\n"
                                   "unload.program=U\r\n");
    EXPECT_EQ(Active(), (Slots{{2, 3}}));
}

TEST_F(Magazine, MachineOperationsReachTheMagazine) {
    ASSERT_TRUE(Load(kMagazine));
    machine.AttachMagazine(&magazine);
    MMachAbstract& server = machine;
    EXPECT_TRUE(server.HasMagazineDB());
    EXPECT_EQ(server.GetSlotOfProbe(7), 2u);
    EXPECT_TRUE(server.FindSlot(3));
    EXPECT_FALSE(server.FindSlot(4));
    EXPECT_TRUE(server.SetSlot(3, 11));
    EXPECT_EQ(server.GetSlotOfProbe(11), 3u);
    EXPECT_EQ(server.GetLoadProgram(1), "LOAD 1");
    EXPECT_EQ(server.GetUnloadProgram(3), "UNLOAD 3");
    EXPECT_EQ(server.GetChangeProgram(1, 3), "C 1 3");
    EXPECT_EQ(server.GetSlots("my_probe", 1), (Slots{{4, 5}}));
    EXPECT_EQ(server.GetSlots("", 0), (Slots{{1, 5}, {2, 7}, {3, 11}}));
}
