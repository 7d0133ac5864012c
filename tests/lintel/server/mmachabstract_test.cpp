#include "lintel/server/commands/moutputchannel.h"
#include "tests/lintel/server/testmachine.h"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
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

using Placeholder = MMachCommand* (MMachAbstract::*)(MOutputChannel*);
#define P(n) &MMachAbstract::NewMMachCommand##n

TEST(MMachAbstract, EveryFactoryNotProvidedReportsCommandUnknown) {
    MOutputChannel out(42);
    TestMachine m;
    MMachScanRequest request;
    request.axes["time"] = MMachScanTarget{2.0, 1};
    int entry = 0;
    // Each factory must return null and leave exactly one error-15 line.
    auto unknown = [&](MMachCommand* command) {
        std::unique_ptr<MMachCommand> owned(command);
        std::string text;
        out.Take(text, true);
        EXPECT_EQ(command, nullptr) << "entry " << entry;
        EXPECT_EQ(text, "0042\terror \"transaction: command unknown\"\r\n") << "entry " << entry;
        out.ResetError();
        ++entry;
    };
    for (Placeholder placeholder :
         {P(106), P(107), P(108), P(109), P(110), P(111), P(112), P(113), P(114), P(115), P(120),
          P(121), P(132), P(133), P(134), P(135), P(136), P(138), P(140), P(141), P(146)})
        unknown((m.*placeholder)(&out));
    unknown(m.NewMMachGetCommand(&out, {"x"}));
    unknown(m.NewMMachInitCommand(&out, {"x"}));
    unknown(m.NewMMachReceiveCommand(&out, "probe.tip"));
    unknown(m.NewMMachSendCommand(&out, "probe.tip", "[Camera]"));
    unknown(m.NewMMachSetCommand(&out, {{"gain", 2.0}}));
    unknown(m.NewMMachScanCommand(&out, request));
    unknown(m.NewMMachProbesystemLoadCommand(&out, "Optic", 1));
    unknown(m.NewMMachProbesystemUnloadCommand(&out));
    unknown(m.NewMMachProbesystemDefineCommand(&out, "Optic"));
    unknown(m.NewMMachProbesystemDeleteCommand(&out, "Optic", 1));
    unknown(m.NewMMachProbeLoadCommand(&out, 1, 1));
    unknown(m.NewMMachProbeDeleteCommand(&out, 1, 1));
    unknown(m.NewMMachProbeDefineCommand(&out, 1, 1, {{"d", 2.0}}));
    unknown(m.NewMMachProbeUnloadCommand(&out));
    unknown(m.NewMMachProbeChangeCommand(&out, 1, 2));
    unknown(m.NewMMachScandataCommand(&out, {"time", "imageindex"}));
    unknown(m.NewMMachScanpointCommand(&out, request));
    unknown(m.NewMMachImagefifoCreateCommand(&out, "fifo", 1u << 20));
    unknown(m.NewMMachImagefifoDeleteCommand(&out, "fifo"));
    unknown(m.NewMMachImagefifoResetCommand(&out));
    unknown(m.NewMMachImagefifoSelectCommand(&out, "fifo"));
    EXPECT_EQ(entry, 42); // 104 to 146 but 122, which stays silent
    EXPECT_EQ(m.NewMMachCommand122(&out), nullptr);
    EXPECT_TRUE(out.IsEmpty() && !out.HasError());
}
