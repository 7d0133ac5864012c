// A machine-driver module whose machine never opens, for the host's handling of that: the
// camera machine opens whatever its camera does, so only a stand-in can refuse. It says why
// the way a module does, in its machine channel and with a chain in its error log.

#include "lintel/server/commands/moutputchannel.h"
#include "lintel/server/machine/mmachabstract.h"
#include "platform/trace/merrlog.h"

#include <cstdint>
#include <string>

namespace {

class ClosedMachine : public MMachAbstract {
public:
    using MMachAbstract::MMachAbstract;
    bool Open() override {
        MERRLOG("ClosedMachine::open_devices(): no device answers");
        MERRLOG("ClosedMachine::Open(): open_devices() failed");
        channel->Error(std::string("closed machine cannot open"));
        return false;
    }
    bool Close() override { return true; }
    void PollAsyncErrors() override {}
    std::string GetSensorName() override { return ""; }
    std::string GetVersion() override { return "0.00-0"; }
    std::string GetSensorSerialNo() override { return ""; }
    const MMachAxis* FindAxis(const std::string&) override { return nullptr; }
    const MMachAxis* FirstAxis() override { return nullptr; }
    const MMachAxis* NextAxis() override { return nullptr; }
    double GetAxisValue(const std::string&) override { return 0; }
    bool NotProvided97() override { return true; }
};

} // namespace

#define CLOSED_EXPORT extern "C" __attribute__((visibility("default")))

CLOSED_EXPORT bool IsProxy() {
    return false;
}

CLOSED_EXPORT MMachAbstract* NewMMachAbstract(const std::string& name, const std::string& directory,
                                              MOutputChannel* channel, MClientNotifier* notifier) {
    return new ClosedMachine(channel, notifier, name, directory);
}

CLOSED_EXPORT void SetDefaultTracelevel(int32_t) {}
