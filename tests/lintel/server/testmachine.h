#pragma once
// The smallest machine: what the base leaves abstract, a way to attach databases, and a
// switch that hides attached databases by answering "no" to the presence queries.

#include "lintel/server/machine/mmachabstract.h"

class TestMachine : public MMachAbstract {
public:
    explicit TestMachine(MOutputChannel* channel = nullptr, MClientNotifier* notifier = nullptr)
        : MMachAbstract(channel, notifier, "test", "/tmp/test") {}

    void Attach(MMachProbeDB* probes, MMachProbesystemDB* probesystems, MMachMagazineDB* magazine) {
        probeDB = probes;
        probesystemDB = probesystems;
        magazineDB = magazine;
    }

    bool hide = false;
    bool HasProbesystemDB() override { return !hide && MMachAbstract::HasProbesystemDB(); }
    bool HasProbeDB() override { return !hide && MMachAbstract::HasProbeDB(); }
    bool HasMagazineDB() override { return !hide && MMachAbstract::HasMagazineDB(); }

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
