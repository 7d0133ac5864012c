#include "lintel/server/commands/moutputchannel.h"
#include "lintel/server/machine/mclientnotifier.h"
#include "tests/lintel/server/testmachine.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using ::testing::Return;
using ::testing::StrictMock;

namespace {

class MockProbeDB : public MMachProbeDB {
public:
    MOCK_METHOD(uint32_t, GetMaxProbeNumber, (), (override));
    MOCK_METHOD(uint32_t, GetMaxTipNumber, (), (override));
    MOCK_METHOD(uint32_t, GetActiveProbe, (), (override));
    MOCK_METHOD(uint32_t, GetActiveTip, (), (override));
    MOCK_METHOD(bool, SetActiveProbe, (uint32_t, uint32_t), (override));
    MOCK_METHOD(bool, IsProbeDefined, (uint32_t), (override));
    MOCK_METHOD(bool, IsTipDefined, (uint32_t, uint32_t), (override));
    MOCK_METHOD(std::vector<ProbeTipRecord>, ListProbes, (uint32_t, uint32_t), (override));
    MOCK_METHOD(bool, DefineProbe, (const ProbeTipRecord&), (override));
    MOCK_METHOD(bool, DeleteProbe, (uint32_t, uint32_t), (override));
};

class MockProbesystemDB : public MMachProbesystemDB {
public:
    MOCK_METHOD(bool, IsProbesystemDefined, (const std::string&), (override));
    MOCK_METHOD(bool, IsProbesystemIdDefined, (const std::string&, uint32_t), (override));
    MOCK_METHOD(bool, HasActiveProbesystem, (), (override));
    MOCK_METHOD(std::string, GetActiveProbesystem, (), (override));
    MOCK_METHOD(uint32_t, GetActiveProbesystemId, (), (override));
    MOCK_METHOD(bool, SetActiveProbesystem, (const std::string&, uint32_t), (override));
    MOCK_METHOD(bool, IsProbesystemTypeDefined, (const std::string&), (override));
    MOCK_METHOD(const char*, FirstProbesystemType, (), (override));
    MOCK_METHOD(const char*, NextProbesystemType, (), (override));
    MOCK_METHOD(std::vector<ProbesystemRecord>, ListProbesystems, (const std::string&, uint32_t),
                (override));
    MOCK_METHOD(bool, DefineProbesystem, (const ProbesystemRecord&), (override));
    MOCK_METHOD(bool, DeleteProbesystem, (const std::string&, uint32_t), (override));
};

class MockNotifier : public MClientNotifier {
public:
    MOCK_METHOD(int32_t, GetState, (), (override));
    MOCK_METHOD(void, WakeUp, (), (override));
};

} // namespace

TEST(MMachAbstract, CommandEnabling) {
    TestMachine machine;
    EXPECT_FALSE(machine.IsCommandEnabled("MMachGetCommand"));
    machine.DisableCommand("MMachGetCommand");
    EXPECT_FALSE(machine.IsCommandEnabled("MMachGetCommand"));
    EXPECT_TRUE(machine.Knows("MMachGetCommand")); // disabling records the name too
    machine.EnableCommand("MMachGetCommand");
    EXPECT_TRUE(machine.IsCommandEnabled("MMachGetCommand"));
    EXPECT_FALSE(machine.IsCommandEnabled("mmachgetcommand")); // exact bytes
    EXPECT_FALSE(machine.IsCommandEnabled("MMachGetCommand "));
    machine.DisableCommand("MMachGetCommand");
    EXPECT_FALSE(machine.IsCommandEnabled("MMachGetCommand"));
}

TEST(MMachAbstract, DefaultsOfTheBaseAndTheNotifier) {
    StrictMock<MockNotifier> notifier;
    TestMachine machine(nullptr, &notifier);
    EXPECT_EQ(machine.GetDefaultTimeout(), 5.0);
    EXPECT_FALSE(machine.IsTimeOnly({{"time", {1.0, 0}}}));
    MMachProbesystemType type = machine.GetActiveProbesystemType();
    EXPECT_EQ(type.kind, 1u);
    EXPECT_EQ(type.width + type.height + type.widthMm + type.heightMm, 0.0);
    MMachImageInfo info{640, 480, 2};
    machine.GetProbesystemImageInfo(info);
    EXPECT_EQ(info.width + info.height + info.bytesPerPixel, 0u);
    std::string result = "stale";
    EXPECT_FALSE(machine.NotProvided95(result));
    EXPECT_EQ(result, "");
    EXPECT_TRUE(machine.NotProvided99());

    EXPECT_CALL(notifier, GetState()).WillOnce(Return(0)).WillOnce(Return(3));
    EXPECT_FALSE(machine.IsNotifierSet());
    EXPECT_TRUE(machine.IsNotifierSet());
    EXPECT_CALL(notifier, WakeUp()).Times(2);
    machine.WakeUpClients();
    machine.WakeUpClients();
    TestMachine without;
    EXPECT_FALSE(without.IsNotifierSet());
    without.WakeUpClients(); // nothing to wake, nothing to crash
}

TEST(MMachAbstract, PassThroughsForwardArgumentsAndResults) {
    StrictMock<MockProbeDB> probes;
    StrictMock<MockProbesystemDB> probesystems;
    TestMachine machine;
    EXPECT_FALSE(machine.HasProbeDB() || machine.HasProbesystemDB() || machine.HasMagazineDB());
    machine.Attach(&probes, &probesystems, nullptr);
    EXPECT_TRUE(machine.HasProbeDB() && machine.HasProbesystemDB());

    std::vector<ProbeTipRecord> list{{4, 2, 1.0, 2.0, 3.0, 0.5}};
    EXPECT_CALL(probes, ListProbes(4, 0)).WillOnce(Return(list));
    EXPECT_CALL(probes, IsTipDefined(4000000000u, 7)).WillOnce(Return(true));
    EXPECT_CALL(probes, IsProbeDefined(9)).WillOnce(Return(false));
    EXPECT_CALL(probes, GetMaxProbeNumber()).WillOnce(Return(1000));
    EXPECT_CALL(probes, GetMaxTipNumber()).WillOnce(Return(200));
    EXPECT_CALL(probes, GetActiveProbe()).WillOnce(Return(4));
    EXPECT_CALL(probes, GetActiveTip()).WillOnce(Return(2));
    std::vector<ProbeTipRecord> got = machine.ListProbes(4, 0);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].d, 0.5);
    EXPECT_TRUE(machine.IsTipDefined(4000000000u, 7));
    EXPECT_FALSE(machine.IsProbeDefined(9));
    EXPECT_EQ(machine.GetMaxProbeNumber(), 1000u);
    EXPECT_EQ(machine.GetMaxTipNumber(), 200u);
    EXPECT_EQ(machine.GetActiveProbe(), 4u);
    EXPECT_EQ(machine.GetActiveTip(), 2u);

    static const char kType[] = "Optic";
    EXPECT_CALL(probesystems, IsProbesystemDefined("Optic")).WillOnce(Return(true));
    EXPECT_CALL(probesystems, IsProbesystemIdDefined("Optic", 2)).WillOnce(Return(true));
    EXPECT_CALL(probesystems, IsProbesystemTypeDefined("Zoom")).WillOnce(Return(false));
    EXPECT_CALL(probesystems, HasActiveProbesystem()).WillOnce(Return(true));
    EXPECT_CALL(probesystems, GetActiveProbesystem()).WillOnce(Return("Optic"));
    EXPECT_CALL(probesystems, GetActiveProbesystemId()).WillOnce(Return(2));
    EXPECT_CALL(probesystems, FirstProbesystemType()).WillOnce(Return(kType));
    EXPECT_CALL(probesystems, NextProbesystemType()).WillOnce(Return(nullptr));
    EXPECT_CALL(probesystems, ListProbesystems("Optic", 2))
        .WillOnce(Return(std::vector<ProbesystemRecord>{{"Optic", 2, 0, 0, 0, 0, 0, 90}}));
    EXPECT_TRUE(machine.IsProbesystemDefined("Optic"));
    EXPECT_TRUE(machine.IsProbesystemIdDefined("Optic", 2));
    EXPECT_FALSE(machine.IsProbesystemTypeDefined("Zoom"));
    EXPECT_TRUE(machine.HasActiveProbesystem());
    EXPECT_EQ(machine.GetActiveProbesystem(), "Optic");
    EXPECT_EQ(machine.GetActiveProbesystemId(), 2u);
    EXPECT_EQ(machine.FirstProbesystemType(), kType);
    EXPECT_EQ(machine.NextProbesystemType(), nullptr);
    std::vector<ProbesystemRecord> systems = machine.ListProbesystems("Optic", 2);
    ASSERT_EQ(systems.size(), 1u);
    EXPECT_EQ(systems[0].gamma, 90.0);
}

// The presence queries guard every pass-through through the virtual table: with the
// databases hidden by an override, no database is called (any call fails a strict mock).
// The magazine's guard is checked with a filled magazine in its own tests.
TEST(MMachAbstract, HiddenDatabasesAreNeverCalled) {
    StrictMock<MockProbeDB> probes;
    StrictMock<MockProbesystemDB> probesystems;
    TestMachine machine;
    machine.Attach(&probes, &probesystems, nullptr);
    machine.hide = true;
    EXPECT_FALSE(machine.IsProbeDefined(1) || machine.IsTipDefined(1, 1));
    EXPECT_TRUE(machine.ListProbes(0, 0).empty());
    EXPECT_EQ(machine.GetMaxProbeNumber() + machine.GetMaxTipNumber(), 0u);
    EXPECT_EQ(machine.GetActiveProbe() + machine.GetActiveTip(), 0u);
    EXPECT_FALSE(machine.IsProbesystemDefined("Optic") || machine.HasActiveProbesystem());
    EXPECT_FALSE(machine.IsProbesystemIdDefined("Optic", 1));
    EXPECT_FALSE(machine.IsProbesystemTypeDefined("Optic"));
    EXPECT_EQ(machine.FirstProbesystemType(), nullptr);
    EXPECT_EQ(machine.NextProbesystemType(), nullptr);
    EXPECT_TRUE(machine.ListProbesystems("", 0).empty());
    EXPECT_EQ(machine.GetActiveProbesystem(), "");
    EXPECT_EQ(machine.GetActiveProbesystemId(), 0u);
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
        EXPECT_TRUE(out.HasError()) << "entry " << entry;
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
    EXPECT_EQ(entry, 42); // 104 to 146 but 122

    EXPECT_EQ(m.NewMMachCommand122(&out), nullptr);
    EXPECT_TRUE(out.IsEmpty());
    EXPECT_FALSE(out.HasError());
}
