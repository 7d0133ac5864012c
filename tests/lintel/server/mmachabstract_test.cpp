#include "lintel/server/commands/moutputchannel.h"
#include "lintel/server/machine/mclientnotifier.h"
#include "lintel/server/machine/mmachabstract.h"
#include "lintel/server/machine/mmachmagazinedb.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
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

// The smallest machine: what the base leaves abstract, and a way to attach databases.
class TestMachine : public MMachAbstract {
public:
    explicit TestMachine(MOutputChannel* channel = nullptr, MClientNotifier* notifier = nullptr)
        : MMachAbstract(channel, notifier, "test", "/tmp/test") {}

    void Attach(MMachProbeDB* probes, MMachProbesystemDB* probesystems, MMachMagazineDB* magazine) {
        probeDB = probes;
        probesystemDB = probesystems;
        magazineDB = magazine;
    }

    bool Open() override { return true; }
    bool Close() override { return true; }
    void PollAsyncErrors() override {}
    std::string GetSensorName() override { return {}; }
    std::string GetVersion() override { return "0"; }
    std::string GetSensorSerialNo() override { return {}; }
    const MMachAxis* FindAxis(const std::string&) override { return nullptr; }
    const MMachAxis* FirstAxis() override { return nullptr; }
    const MMachAxis* NextAxis() override { return nullptr; }
    double GetAxisValue(const std::string&) override { return 0.0; }
    bool NotProvided97() override { return true; }
};

// A machine that hides databases it has attached by answering "no" to the presence queries.
class HidingMachine : public TestMachine {
public:
    bool HasProbesystemDB() override { return false; }
    bool HasProbeDB() override { return false; }
    bool HasMagazineDB() override { return false; }
};

std::string Take(MOutputChannel& channel) {
    std::string out;
    channel.Take(out, true);
    return out;
}

} // namespace

TEST(MMachAbstract, CommandEnabling) {
    TestMachine machine;
    EXPECT_FALSE(machine.IsCommandEnabled("MMachGetCommand"));
    machine.DisableCommand("MMachGetCommand");
    EXPECT_FALSE(machine.IsCommandEnabled("MMachGetCommand"));
    machine.EnableCommand("MMachGetCommand");
    EXPECT_TRUE(machine.IsCommandEnabled("MMachGetCommand"));
    EXPECT_FALSE(machine.IsCommandEnabled("mmachgetcommand")); // exact bytes
    EXPECT_FALSE(machine.IsCommandEnabled("MMachGetCommand "));
    machine.EnableCommand("MMachGetCommand");
    machine.DisableCommand("MMachGetCommand");
    EXPECT_FALSE(machine.IsCommandEnabled("MMachGetCommand"));
    machine.EnableCommand(MMachSetCommand::ClassName);
    EXPECT_TRUE(machine.IsCommandEnabled("MMachSetCommand"));
}

TEST(MMachAbstract, DefaultsOfTheBase) {
    TestMachine machine;
    EXPECT_EQ(machine.GetDefaultTimeout(), 5.0);
    EXPECT_FALSE(machine.IsTimeOnly({{"time", {1.0, 0}}}));
    EXPECT_FALSE(machine.HasAutoinfo());
    std::vector<double> values{1.0};
    EXPECT_FALSE(machine.GetAutoinfo(values));
    EXPECT_EQ(values.size(), 1u);
    EXPECT_EQ(machine.FindComponent("probe.tip"), nullptr);
    EXPECT_EQ(machine.FirstImageFifo(), nullptr);
    EXPECT_FALSE(machine.HasImageFifos());

    MMachProbesystemType type = machine.GetActiveProbesystemType();
    EXPECT_EQ(type.kind, 1u);
    EXPECT_EQ(type.width, 0u);
    EXPECT_EQ(type.height, 0u);
    EXPECT_EQ(type.widthMm, 0.0);
    EXPECT_EQ(type.heightMm, 0.0);

    MMachImageInfo info{640, 480, 2};
    machine.GetProbesystemImageInfo(info);
    EXPECT_EQ(info.width, 0u);
    EXPECT_EQ(info.height, 0u);
    EXPECT_EQ(info.bytesPerPixel, 0u);

    // Placeholders keep their stated results.
    EXPECT_EQ(machine.NotProvided15(), nullptr);
    EXPECT_FALSE(machine.NotProvided23());
    EXPECT_EQ(machine.NotProvided28(), 0);
    EXPECT_EQ(machine.NotProvided94(), "");
    std::string result = "stale";
    EXPECT_FALSE(machine.NotProvided95(result));
    EXPECT_EQ(result, "");
    EXPECT_TRUE(machine.NotProvided99());
    EXPECT_FALSE(machine.NotProvided102());
}

TEST(MMachAbstract, NotifierPassThrough) {
    StrictMock<MockNotifier> notifier;
    TestMachine machine(nullptr, &notifier);
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

TEST(MMachAbstract, PassThroughsWithoutDatabasesAnswerDefaults) {
    TestMachine machine;
    EXPECT_FALSE(machine.HasProbeDB());
    EXPECT_FALSE(machine.HasProbesystemDB());
    EXPECT_FALSE(machine.HasMagazineDB());
    EXPECT_EQ(machine.GetActiveProbe(), 0u);
    EXPECT_EQ(machine.GetMaxTipNumber(), 0u);
    EXPECT_FALSE(machine.IsTipDefined(1, 1));
    EXPECT_TRUE(machine.ListProbes(0, 0).empty());
    EXPECT_TRUE(machine.ListProbesystems("", 0).empty());
    EXPECT_EQ(machine.GetActiveProbesystem(), "");
    EXPECT_EQ(machine.GetActiveProbesystemId(), 0u);
    EXPECT_EQ(machine.FirstProbesystemType(), nullptr);
    EXPECT_FALSE(machine.HasActiveProbesystem());
    EXPECT_EQ(machine.GetSlotOfProbe(3), 0u);
    EXPECT_FALSE(machine.FindSlot(1));
    EXPECT_FALSE(machine.SetSlot(1, 2));
    EXPECT_EQ(machine.GetChangeProgram(1, 2), "");
    EXPECT_TRUE(machine.GetSlots("", 0).empty());

    // The empty list is handed out as a copy: changing it changes nothing for the next caller.
    std::vector<ProbeTipRecord> probes = machine.ListProbes(0, 0);
    probes.push_back(ProbeTipRecord{1, 1, 0, 0, 0, 2});
    EXPECT_TRUE(machine.ListProbes(0, 0).empty());
}

TEST(MMachAbstract, PassThroughsForwardArgumentsAndResults) {
    StrictMock<MockProbeDB> probes;
    StrictMock<MockProbesystemDB> probesystems;
    TestMachine machine;
    MMachMagazineDB magazine("magazine.ini", machine); // never opened: no slots
    machine.Attach(&probes, &probesystems, &magazine);
    EXPECT_TRUE(machine.HasProbeDB());
    EXPECT_TRUE(machine.HasProbesystemDB());
    EXPECT_TRUE(machine.HasMagazineDB());

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
    EXPECT_EQ(got[0].probe, 4u);
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

TEST(MMachAbstract, PresenceQueriesOverriddenToFalseHideAttachedDatabases) {
    StrictMock<MockProbeDB> probes; // any call fails the test
    StrictMock<MockProbesystemDB> probesystems;
    HidingMachine machine;
    MMachMagazineDB magazine("magazine.ini", machine);
    machine.Attach(&probes, &probesystems, &magazine);

    EXPECT_FALSE(machine.IsProbeDefined(1));
    EXPECT_FALSE(machine.IsTipDefined(1, 1));
    EXPECT_TRUE(machine.ListProbes(0, 0).empty());
    EXPECT_EQ(machine.GetMaxProbeNumber(), 0u);
    EXPECT_EQ(machine.GetMaxTipNumber(), 0u);
    EXPECT_EQ(machine.GetActiveProbe(), 0u);
    EXPECT_EQ(machine.GetActiveTip(), 0u);

    EXPECT_FALSE(machine.IsProbesystemDefined("Optic"));
    EXPECT_EQ(machine.FirstProbesystemType(), nullptr);
    EXPECT_EQ(machine.NextProbesystemType(), nullptr);
    EXPECT_FALSE(machine.IsProbesystemIdDefined("Optic", 1));
    EXPECT_TRUE(machine.ListProbesystems("", 0).empty());
    EXPECT_FALSE(machine.HasActiveProbesystem());
    EXPECT_FALSE(machine.IsProbesystemTypeDefined("Optic"));
    EXPECT_EQ(machine.GetActiveProbesystem(), "");
    EXPECT_EQ(machine.GetActiveProbesystemId(), 0u);

    EXPECT_EQ(machine.GetSlotOfProbe(0), 0u);
    EXPECT_FALSE(machine.FindSlot(1));
    EXPECT_FALSE(machine.SetSlot(1, 1));
    EXPECT_EQ(machine.GetLoadProgram(1), "");
    EXPECT_EQ(machine.GetUnloadProgram(1), "");
    EXPECT_TRUE(machine.GetSlots("Optic", 1).empty());
}

TEST(MMachAbstract, EveryFactoryNotProvidedReportsCommandUnknown) {
    MOutputChannel out(42);
    TestMachine machine;
    const std::string unknown = "0042\terror \"transaction: command unknown\"\r\n";
    MMachScanRequest request;
    request.axes["time"] = MMachScanTarget{2.0, 1};

    std::vector<std::function<MMachCommand*()>> factories = {
        [&] { return machine.NewMMachGetCommand(&out, {"x"}); },
        [&] { return machine.NewMMachInitCommand(&out, {"x"}); },
        [&] { return machine.NewMMachCommand106(&out); },
        [&] { return machine.NewMMachCommand107(&out); },
        [&] { return machine.NewMMachCommand108(&out); },
        [&] { return machine.NewMMachCommand109(&out); },
        [&] { return machine.NewMMachCommand110(&out); },
        [&] { return machine.NewMMachCommand111(&out); },
        [&] { return machine.NewMMachCommand112(&out); },
        [&] { return machine.NewMMachCommand113(&out); },
        [&] { return machine.NewMMachCommand114(&out); },
        [&] { return machine.NewMMachCommand115(&out); },
        [&] { return machine.NewMMachReceiveCommand(&out, "probe.tip"); },
        [&] { return machine.NewMMachSendCommand(&out, "probe.tip", "[Camera]"); },
        [&] {
            return machine.NewMMachSetCommand(&out, {{"gain", 2.0}});
        },
        [&] { return machine.NewMMachScanCommand(&out, request); },
        [&] { return machine.NewMMachCommand120(&out); },
        [&] { return machine.NewMMachCommand121(&out); },
        [&] { return machine.NewMMachProbesystemLoadCommand(&out, "Optic", 1); },
        [&] { return machine.NewMMachProbesystemUnloadCommand(&out); },
        [&] { return machine.NewMMachProbesystemDefineCommand(&out, "Optic"); },
        [&] { return machine.NewMMachProbesystemDeleteCommand(&out, "Optic", 1); },
        [&] { return machine.NewMMachProbeLoadCommand(&out, 1, 1); },
        [&] { return machine.NewMMachProbeDeleteCommand(&out, 1, 1); },
        [&] {
            return machine.NewMMachProbeDefineCommand(&out, 1, 1, {{"d", 2.0}});
        },
        [&] { return machine.NewMMachProbeUnloadCommand(&out); },
        [&] { return machine.NewMMachProbeChangeCommand(&out, 1, 2); },
        [&] { return machine.NewMMachCommand132(&out); },
        [&] { return machine.NewMMachCommand133(&out); },
        [&] { return machine.NewMMachCommand134(&out); },
        [&] { return machine.NewMMachCommand135(&out); },
        [&] { return machine.NewMMachCommand136(&out); },
        [&] {
            return machine.NewMMachScandataCommand(&out, {"time", "imageindex"});
        },
        [&] { return machine.NewMMachCommand138(&out); },
        [&] { return machine.NewMMachScanpointCommand(&out, request); },
        [&] { return machine.NewMMachCommand140(&out); },
        [&] { return machine.NewMMachCommand141(&out); },
        [&] { return machine.NewMMachImagefifoCreateCommand(&out, "fifo", 1u << 20); },
        [&] { return machine.NewMMachImagefifoDeleteCommand(&out, "fifo"); },
        [&] { return machine.NewMMachImagefifoResetCommand(&out); },
        [&] { return machine.NewMMachImagefifoSelectCommand(&out, "fifo"); },
        [&] { return machine.NewMMachCommand146(&out); },
    };
    ASSERT_EQ(factories.size(), 42u); // 104 to 146 without 122
    for (size_t i = 0; i < factories.size(); ++i) {
        std::unique_ptr<MMachCommand> command(factories[i]());
        EXPECT_EQ(command, nullptr) << "factory " << i;
        EXPECT_TRUE(out.HasError());
        out.ResetError();
        EXPECT_EQ(Take(out), unknown) << "factory " << i;
    }

    EXPECT_EQ(machine.NewMMachCommand122(&out), nullptr);
    EXPECT_TRUE(out.IsEmpty());
    EXPECT_FALSE(out.HasError());
}
