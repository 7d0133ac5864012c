#include "csensor/sensors/cprobeconfigdb.h"
#include "csensor/sensors/cprobemanager.h"
#include "csensor/sensors/csensorbase.h"
#include "csensor/sensors/csensordefaults.h"
#include "csensor/sensors/csensorregistry.h"
#include "platform/trace/tracecapture.h"
#include "sensortestutil.h"
#include "tests/support/testsupport.h"

#include <gtest/gtest.h>

#include <tuple>

using sensortest::Doc;
using sensortest::Entry;
using vyx::test::TempDir;

namespace {

// What a factory builds: class name, type list and channel set of a test sensor.
struct Behaviour {
    std::string cls;
    std::string types;
    std::string channels;
};

std::map<std::string, Behaviour> behaviours;

class TestSensor : public CSensorBase {
public:
    explicit TestSensor(const Behaviour& behaviour) : m_behaviour(behaviour) {
        SetSensorName(behaviour.cls);
        if (!behaviour.channels.empty()) {
            ClearPropertyTable();
            SetPropertyData(std::string_view(behaviour.channels));
        }
    }
    const char* GetSensorClass() const override { return m_behaviour.cls.c_str(); }
    int32_t GetInterfaceLevel() const override { return 2; }
    const char* GetSensorTypeList() const override { return m_behaviour.types.c_str(); }
    // Stored only: the probe-type readers of CSensorBase are not what is tested here.
    bool SetConfigData(std::string_view text) override {
        return !failConfig && CSensor::SetConfigData(text);
    }
    bool failConfig = false;

private:
    Behaviour m_behaviour;
};

std::unique_ptr<CSensor> make(const char* key) {
    return std::make_unique<TestSensor>(behaviours[key]);
}

const std::map<std::string, CSensorFactory> kFactories = {
    {"A", [] { return make("A"); }},
    {"B", [] { return make("B"); }},
    {"unloaded", [] { return make("unloaded"); }},
    {"Null", []() -> std::unique_ptr<CSensor> { return nullptr; }},
};

const char kChannels[] = "[General]\nChannels=x,m,q\n"
                         "[Default]\nAccess=RW\nMin=-100\nMax=100\nStep=0.001\n[m]\nMaster=1\n";

class ProbeManager : public ::testing::Test {
protected:
    void SetUp() override {
        clear_registry();
        Register("A", {"TestA", "A:1", kChannels});
        Register("B", {"TestB", "B:2 B:3", "[General]\nChannels=x,y\n[Default]\nAccess=R\n"});
        Register("unloaded", {"unloaded", "unloaded", "[General]\nChannels=\n"});
    }
    void TearDown() override {
        manager.Close();
        clear_registry();
        CSensor_SetDefaultConfigData("");
    }
    static void clear_registry() {
        for (const auto& entry : CSensorRegistry_GetEntries())
            CSensorRegistry_Unregister(entry.first);
    }
    void Register(const std::string& name, const Behaviour& behaviour) {
        behaviours[name] = behaviour;
        CSensorRegistry_Register(name, kFactories.at(name));
    }
    bool Open() { return manager.Open(dir.Path(), "camprobedb.ini", 0.001); }
    TestSensor* Sensor(const std::string& type) {
        return dynamic_cast<TestSensor*>(manager.FindSensor(type));
    }
    std::string Db(const char* section, const char* key) {
        std::string text;
        return manager.ConfigDBRead(section, key, text) ? text : "<missing>";
    }

    TempDir dir;
    CProbeManager manager;
};

std::string codes(CProbeManager& manager) {
    std::string text;
    while (manager.HasErrors())
        text += std::to_string(manager.GetErrorCode()) + ",";
    return text;
}

} // namespace

TEST_F(ProbeManager, OperationsBeforeOpenFailCleanlyThenOpensEmptyDirectoryAndStoredList) {
    vyx::trace::TraceCapture capture;
    std::string text;
    sensortest::ExpectRefused(
        capture,
        {
            {manager.SetProbesystem("[Geometry]\nx0=0\n"), "SetProbesystem(): Deactivate() failed"},
            {manager.SetProbetip(""), "SetProbetip(): failed to deactivate sensor"},
            {manager.SetProbeProperties(""), "SetProbeProperties(): failed to deactivate sensor"},
            {manager.GetHardwareData(text), "GetHardwareData(): unknown sensor: "},
            {manager.GetProbesystemList(text),
             "GetProbesystemList(): no probesystem list available"},
            {manager.ConfigDBWrite("Camera", "PROPERTIES", "[x]\n"), "ConfigDBWrite()"},
        });
    EXPECT_EQ(codes(manager), "40,40,40,");
    EXPECT_FALSE(vyx::test::PathExists(dir.File("camprobedb.ini")));

    // Sensors made ahead of Open are the ones Open initialises.
    manager.InitSensors(0.5);
    const std::vector<CSensor*> early = manager.GetSensors();
    ASSERT_TRUE(Open()) << capture.Dump();
    const std::vector<CSensor*> sensors = manager.GetSensors();
    EXPECT_EQ(sensors, early);
    ASSERT_EQ(sensors.size(), 3u); // registry name order; the placeholder comes last
    EXPECT_EQ(manager.GetSensor(), sensors[2]);
    EXPECT_EQ(manager.FindSensor(" B:3 "), sensors[1]);
    for (CSensor* s : sensors)
        EXPECT_EQ(s->GetHardwareInputs()->nInput, 2u);
    // The default input description is stored with the defaults the first sensor added.
    EXPECT_EQ(Entry(Db("HARDWARE", "MC"), "Input_3", "damping_s"),
              "0.05 ; Daempfung in sec fuer schaltende Eingaenge");
    EXPECT_EQ(Entry(vyx::test::ReadFileBytes(dir.File("camprobedb.ini")), "ProbeSystem",
                    "probesystem.list"),
              "A:1 B:2 B:3 ");
    EXPECT_TRUE(Open()); // open already: nothing happens
    EXPECT_EQ(manager.GetSensors(), sensors);

    // A stored list limits the types in use.
    ASSERT_TRUE(manager.GetConfigDB()->SetFileContent(
        "[ProbeSystem]\nprobesystem.list=B:3 X:9 unloaded\n"));
    manager.Close();
    ASSERT_TRUE(Open());
    std::string list;
    ASSERT_TRUE(manager.GetProbesystemList(list));
    // Every known item is used, the placeholder's included.
    EXPECT_EQ(list, "B:3 unloaded ");
    EXPECT_EQ(manager.FindSensor("A:1"), nullptr);
    std::string content;
    ASSERT_TRUE(manager.GetConfigDB()->GetFileContent(content));
    EXPECT_EQ(Entry(content, "ProbeSystem", "probesystem.list"), "B:3 X:9 unloaded"); // kept
    EXPECT_EQ(Entry(content, "ProbeSystem", "probesystem.total"), "A:1 B:2 B:3 ");

    ASSERT_TRUE(manager.GetConfigDB()->SetFileContent("[ProbeSystem]\nprobesystem.list=\n"));
    ASSERT_TRUE(manager.GetProbesystemList(list));
    EXPECT_EQ(list, "A:1 B:2 B:3 ");
}

TEST_F(ProbeManager, StoredDataInitialisesSensorsAndUnreadableDataIsLeftAlone) {
    {
        CProbeConfigDB db(dir.Path(), "camprobedb.ini");
        ASSERT_TRUE(db.Open());
        db.WriteData("TestA", "GEOMETRY", "[Geometry]\nalpha=90\n");
        db.SetStringEntry("TestA", "PROBESYSTEM", "?");
        db.WriteData("TestB", "PROBESYSTEM", "[ProbeSystem]\nRange=0.25\n");
        db.WriteData("HARDWARE", "MC", "[GENERAL]\nInput=1\n[Input_1]\ntype=Camera\n");
        db.WriteData("CSensor", "PROPERTIES", "[General]\nChannels=only\n");
        ASSERT_TRUE(db.Save());
    }
    ASSERT_TRUE(Open());
    EXPECT_EQ(Entry(Doc(*Sensor("A:1"), &CSensor::GetGeometryData), "Geometry", "alpha"), "90");
    // "?" asked for the features: they are stored in its place.
    EXPECT_EQ(Entry(Db("TestA", "PROBESYSTEM"), "ProbeSystem", "SensorTypeMC"), "Form");
    EXPECT_EQ(Sensor("B:2")->GetFeatureDefaults().Range, 0.25);
    EXPECT_EQ(Sensor("B:2")->GetHardwareInputs()->nInput, 1u);
    // The stored default channel table is the one sensors built from now on start from.
    TestSensor fresh(Behaviour{"Fresh", "F:1", ""});
    EXPECT_EQ(fresh.GetPropertyCount(), 1u);
    EXPECT_TRUE(fresh.HasProperty("only"));

    // A database that does not load is left alone; the sensors work with their defaults.
    manager.Close();
    const std::string broken = "[GENERAL]\nTarget=x\n[GENERAL]\n";
    ASSERT_TRUE(vyx::test::WriteFileBytes(dir.File("camprobedb.ini"), broken));
    vyx::trace::TraceCapture capture;
    ASSERT_TRUE(Open()); // the sensors work with their defaults
    EXPECT_EQ(capture.CountErrLog("Open(): m_ProbeConfigDB.Open() failed "), 1);
    EXPECT_EQ(Sensor("A:1")->GetHardwareInputs()->nInput, 2u);
    EXPECT_NE(Sensor("B:2"), nullptr); // no list to thin the types with
    EXPECT_FALSE(manager.ConfigDBWrite("HARDWARE", "MC", "[GENERAL]\nInput=1\n"));
    EXPECT_EQ(vyx::test::ReadFileBytes(dir.File("camprobedb.ini")), broken);
}

TEST_F(ProbeManager, SensorTypeLists) {
    std::string longest;
    for (int i = 0; longest.size() + 8 <= 511; ++i)
        longest += "T" + std::to_string(100 + i) + ":1 ";
    longest.append(511 - longest.size(), 'Z');
    Register("A", {"Longest", longest, kChannels});
    Register("B", {"TooLong", longest + "Z", kChannels});
    Register("Null", {});
    Register("unloaded", {"unloaded", " ", ""}); // no types at all
    vyx::trace::TraceCapture capture;
    ASSERT_TRUE(Open());
    EXPECT_STREQ(manager.GetSensor()->GetSensorClass(), "Longest");
    EXPECT_EQ(manager.GetTypeList(), longest + " ");
    const char* const lines[] = {
        "UpdateSensorList(): failed to read full sensor list from sensor TooLong",
        "CProbeManager::UpdateSensorList(): no sensor list available from sensor \"unloaded\" due "
        "to missing hardware capabilities, perhaps not supported",
        "CProbeManager::Open(): sensor \"TooLong\" couldn't be initialized, perhaps is is not "
        "supported",
        "CProbeManager::InitSensors(): failed to get instance of Null"};
    for (const char* line : lines)
        EXPECT_EQ(
            capture.CountErrLog(line) + capture.CountTrace(line) + capture.CountErrTrace(line), 1)
            << line;
    EXPECT_EQ(codes(manager), "31,");

    // No sensor that can serve anything: no current sensor, and no database either.
    manager.Close();
    CSensorRegistry_Unregister("A");
    EXPECT_FALSE(Open());
    EXPECT_FALSE(manager.IsOpen());
}

TEST_F(ProbeManager, SwitchesProbesystemsAndForwardsProbeData) {
    ASSERT_TRUE(Open());
    CSensor* placeholder = manager.GetSensor();
    TestSensor* a = Sensor("A:1");
    vyx::trace::TraceCapture capture;
    ASSERT_TRUE(manager.SetProbesystem("[Geometry]\nProbeType= A:1 \nx0=0\n"));
    EXPECT_EQ(manager.GetSensor(), a);
    EXPECT_TRUE(a->IsActive());
    EXPECT_EQ(Entry(Doc(*a, &CSensor::GetConfigData), "Geometry", "ProbeType"), " A:1 ");
    ASSERT_TRUE(manager.SetProbetip("[Tip]\nk=1\n")); // the same sensor again: tip unloaded
    ASSERT_TRUE(manager.SetProbesystem("[Geometry]\nProbeType=A:1\n"));
    EXPECT_EQ(Entry(Doc(*a, &CSensor::GetUserData), "Tip", "k"), "<missing>");

    ASSERT_TRUE(manager.SetProbesystem("[Geometry]\nx0=0\n"));
    EXPECT_EQ(manager.GetSensor(), placeholder);

    // Data, the error logged and the codes queued.
    const std::tuple<const char*, const char*, const char*> bad[] = {
        {"[Geometry]\ny0=1\n", "GetNewSensor(): failed to find Geometry - ProbeType", "32,"},
        {"[Geometry]\nProbeType=Z:1\n", "GetNewSensor(): unknown sensor Z:1", "37,"},
        {"ProbeType=A:1\n", "GetNewSensor(): invalid format of sensor data", "32,"},
    };
    for (const auto& [data, log, code] : bad) {
        SCOPED_TRACE(data);
        EXPECT_FALSE(manager.SetProbesystem(data));
        EXPECT_EQ(capture.CountErrLog(log), 1);
        EXPECT_EQ(codes(manager), code);
        EXPECT_EQ(manager.GetSensor(), placeholder);
        EXPECT_TRUE(placeholder->IsActive());
    }

    // Data forwarded to the current sensor.
    ASSERT_TRUE(manager.SetProbesystem("[Geometry]\nProbeType=A:1\n"));
    ASSERT_TRUE(manager.SetProbetip("[Tip]\nk=1\n"));
    // New properties keep the tip and the configuration.
    ASSERT_TRUE(manager.SetProbeProperties("[General]\nChannels=x\n[x]\nMin=-5\n"));
    EXPECT_EQ(a->GetPropertyTable().at("x").min, -5.0);
    EXPECT_EQ(Entry(Doc(*a, &CSensor::GetUserData), "Tip", "k"), "1");
    EXPECT_EQ(Entry(Doc(*a, &CSensor::GetConfigData), "Geometry", "ProbeType"), "A:1");

    sensortest::ExpectRefused(
        capture, {
                     {manager.SetProbeProperties("x"),
                      "CProbeManager::SetProbeProperties(): failed to set geometry data"},
                     {manager.SetProbetip("x"), "SetProbetip(): failed to set probe tip data"},
                 });
    EXPECT_TRUE(a->IsActive()); // a refused change leaves the sensor working
    EXPECT_EQ(codes(manager), "32,33,40,32,");

    ASSERT_TRUE(manager.ConfigDBWrite("HARDWARE", "MC", "[GENERAL]\nInput=0\n"));
    EXPECT_EQ(Db("HARDWARE", "MC"), "[GENERAL]\nInput=0\n");
    std::string text;
    ASSERT_TRUE(manager.GetHardwareData(text, "B:3"));
    EXPECT_EQ(Entry(text, "Probe", "DampingTime_s"), "0.05");

    // Refused configuration: the sensor is current all the same, without a tip.
    ASSERT_TRUE(manager.SetProbetip("[Tip]\nk=1\n"));
    a->failConfig = true;
    EXPECT_FALSE(manager.SetProbesystem("[Geometry]\nProbeType=A:1\n"));
    EXPECT_EQ(capture.CountErrTrace("SetProbesystem(): SetConfigData() failed"), 1);
    EXPECT_EQ(manager.GetSensor(), a);
    EXPECT_TRUE(a->IsActive());
    EXPECT_EQ(Entry(Doc(*a, &CSensor::GetUserData), "Tip", "k"), "<missing>");
}

TEST_F(ProbeManager, PlaceholderChannelsAlignedAndShellPreferred) {
    Register("unloaded", {"unloaded", "unloaded",
                          "[General]\nChannels=a,b,c\n[Default]\nAccess=I\n[c]\nType=COMPONENT\n"});
    Register("B", {"TestB", "B:2 SHELL:0", "[General]\nChannels=x,y,z\n[y]\nAccess=I\n"});
    CSensorRegistry_Unregister("A");
    ASSERT_TRUE(Open());
    const CSensorChannelTable& table = manager.FindSensor("unloaded")->GetPropertyTable();
    EXPECT_EQ(table.at("a").access, CSENSOR_ACCESS_D); // "x" is readable
    EXPECT_EQ(table.at("b").access, CSENSOR_ACCESS_I); // "y" is internal too
    EXPECT_EQ(table.at("c").access, CSENSOR_ACCESS_I); // a component channel keeps its access
    EXPECT_EQ(manager.GetSensor(), manager.FindSensor("SHELL:0"));
}
