#include "lintel/server/commands/moutputchannel.h"
#include "tests/lintel/server/testmachine.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

// Both databases in one. Answers depend on the arguments, so that forwarding shows in the
// results.
struct Databases : MMachProbeDB, MMachProbesystemDB {
    uint32_t GetMaxProbeNumber() override { return 1000; }
    uint32_t GetMaxTipNumber() override { return 200; }
    uint32_t GetActiveProbe() override { return 4; }
    uint32_t GetActiveTip() override { return 2; }
    bool SetActiveProbe(uint32_t, uint32_t) override { return false; }
    bool IsProbeDefined(uint32_t probe) override { return probe == 9; }
    bool IsTipDefined(uint32_t probe, uint32_t tip) override {
        return probe == 4000000000u && tip == 7;
    }
    std::vector<ProbeTipRecord> ListProbes(uint32_t probe, uint32_t tip) override {
        return {{probe, tip, 1.0, 2.0, 3.0, 0.5}};
    }
    bool DefineProbe(const ProbeTipRecord&) override { return false; }
    bool DeleteProbe(uint32_t, uint32_t) override { return false; }

    bool IsProbesystemDefined(const std::string& name) override { return name == "Optic"; }
    bool IsProbesystemIdDefined(const std::string& name, uint32_t id) override {
        return name == "Optic" && id == 4000000002u;
    }
    bool HasActiveProbesystem() override { return true; }
    std::string GetActiveProbesystem() override { return "Optic"; }
    uint32_t GetActiveProbesystemId() override { return 3; }
    bool SetActiveProbesystem(const std::string&, uint32_t) override { return false; }
    bool IsProbesystemTypeDefined(const std::string& type) override { return type == "Zoom"; }
    const char* FirstProbesystemType() override { return "Zoom"; }
    const char* NextProbesystemType() override { return nullptr; }
    std::vector<ProbesystemRecord> ListProbesystems(const std::string& name, uint32_t id) override {
        return {{name, id, 0, 0, 0, 0, 0, 90}};
    }
    bool DefineProbesystem(const ProbesystemRecord&) override { return false; }
    bool DeleteProbesystem(const std::string&, uint32_t) override { return false; }
};

// Asks every probe and probesystem pass-through, with the arguments the fake answers to.
std::string AskAll(MMachAbstract& m) {
    std::ostringstream out;
    out << "probes";
    for (const ProbeTipRecord& record : m.ListProbes(4, 0))
        out << " " << record.probe << "/" << record.tip;
    out << " defined " << m.IsTipDefined(4000000000u, 7) << m.IsProbeDefined(9) << " max "
        << m.GetMaxProbeNumber() << "/" << m.GetMaxTipNumber() << " active " << m.GetActiveProbe()
        << "/" << m.GetActiveTip() << " | systems";
    for (const ProbesystemRecord& record : m.ListProbesystems("Optic", 2))
        out << " " << record.name << "/" << record.id;
    out << " defined " << m.IsProbesystemDefined("Optic")
        << m.IsProbesystemIdDefined("Optic", 4000000002u) << m.IsProbesystemTypeDefined("Zoom")
        << " active " << m.HasActiveProbesystem() << " " << m.GetActiveProbesystem() << "/"
        << m.GetActiveProbesystemId();
    const char* type = m.FirstProbesystemType();
    out << " types " << (type ? type : "none") << " " << (m.NextProbesystemType() ? "more" : "end");
    return out.str();
}

} // namespace

// The presence queries guard every pass-through through the virtual table: without a
// database, or with one hidden by an override, no database is called and the defaults come
// back. The magazine's guard is checked with a filled magazine in its own tests.
TEST(MMachAbstract, PassThroughsForwardOnlyWhenTheDatabaseIsPresent) {
    const std::string defaults =
        "probes defined 00 max 0/0 active 0/0 | systems defined 000 active 0 /0 types none end";
    Databases db;
    TestMachine machine;
    EXPECT_FALSE(machine.HasProbeDB() || machine.HasProbesystemDB() || machine.HasMagazineDB());
    EXPECT_EQ(AskAll(machine), defaults);
    machine.Attach(&db, &db, nullptr);
    EXPECT_TRUE(machine.HasProbeDB() && machine.HasProbesystemDB());
    EXPECT_EQ(AskAll(machine), "probes 4/0 defined 11 max 1000/200 active 4/2 | systems Optic/2 "
                               "defined 111 active 1 Optic/3 types Zoom end");
    machine.hide = true;
    EXPECT_EQ(AskAll(machine), defaults);
}

#define P(n)                                                                                       \
    std::pair {                                                                                    \
        n, &MMachAbstract::NewMMachCommand##n                                                      \
    }

// The numbered factories are what a machine does not provide (the typed ones are every
// machine's own): null and exactly one error-15 line, but 122, which stays silent.
TEST(MMachAbstract, EveryFactoryNotProvidedReportsCommandUnknown) {
    MOutputChannel out(42);
    TestMachine m;
    for (const auto& [number, factory] :
         {P(106), P(107), P(108), P(109), P(110), P(111), P(112), P(113), P(114), P(115), P(120),
          P(121), P(132), P(133), P(134), P(135), P(136), P(138), P(140), P(141), P(146)}) {
        EXPECT_EQ((m.*factory)(&out), nullptr) << number;
        std::string text;
        out.Take(text, true);
        EXPECT_EQ(text, "0042\terror \"transaction: command unknown\"\r\n") << number;
        out.ResetError();
    }
    EXPECT_EQ(m.NewMMachCommand122(&out), nullptr);
    EXPECT_TRUE(out.IsEmpty() && !out.HasError());
}
