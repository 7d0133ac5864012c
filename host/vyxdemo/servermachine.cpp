#include "host/vyxdemo/servermachine.h"

#include "lintel/server/commands/moutputchannel.h"
#include "lintel/server/machine/mclientnotifier.h"
#include "lintel/server/machine/mmachabstract.h"
#include "msl/mutil/mmodule.h"

#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>

namespace {

using IsProxyFunction = bool (*)();
using NewMachineFunction = MMachAbstract* (*)(const std::string&, const std::string&,
                                              MOutputChannel*, MClientNotifier*);
using SetLevelFunction = void (*)(int32_t);

// The server's notifier: here it only counts, since the demo polls in a loop anyway.
class DemoNotifier : public MClientNotifier {
public:
    int32_t GetState() override { return 1; }
    void WakeUp() override { wakeUps.fetch_add(1, std::memory_order_relaxed); }
    std::atomic<int> wakeUps{0};
};

// Sends what a channel collected, one protocol line per output line.
void Send(MOutputChannel& channel) {
    std::string reply;
    if (!channel.Take(reply, true))
        return;
    size_t start = 0;
    while (start < reply.size()) {
        size_t end = reply.find("\r\n", start);
        if (end == std::string::npos)
            end = reply.size();
        std::printf("< %s\n", reply.substr(start, end - start).c_str());
        start = end + 2;
    }
}

// One transaction: the factory makes the command, the server polls it to the end.
void Transaction(int32_t number, const char* request,
                 const std::function<MMachCommand*(MOutputChannel*)>& factory,
                 const std::function<void(MMachCommand&, MOutputChannel&)>& onDone = nullptr) {
    std::printf("> %04d\t%s\n", number, request);
    MOutputChannel out(number);
    std::unique_ptr<MMachCommand> command(factory(&out));
    if (command) {
        // Commands of this module finish within a few polls; a bound keeps a faulty one
        // from hanging the demo.
        int polls = 0;
        while (!command->IsDone() && ++polls < 100000) {
        }
        if (onDone)
            onDone(*command, out);
    }
    Send(out);
}

} // namespace

bool RunServerMachine(const std::string& modulePath, const std::string& directory, int traceLevel) {
    MModule module;
    if (!module.Load(modulePath)) {
        std::fprintf(stderr, "vyxdemo: cannot load %s: %s\n", modulePath.c_str(),
                     module.Error().c_str());
        return false;
    }
    auto isProxy = module.Find<IsProxyFunction>("IsProxy");
    auto newMachine = module.Find<NewMachineFunction>("NewMMachAbstract");
    auto setLevel = module.Find<SetLevelFunction>("SetDefaultTracelevel");
    if (isProxy == nullptr || newMachine == nullptr || setLevel == nullptr) {
        std::fprintf(stderr, "vyxdemo: %s lacks the module entry points\n", modulePath.c_str());
        return false;
    }
    if (traceLevel >= 0)
        setLevel(traceLevel);
    std::printf("module %s (proxy: %s)\n", modulePath.c_str(), isProxy() ? "yes" : "no");

    MOutputChannel machineChannel(0);
    DemoNotifier notifier;
    std::unique_ptr<MMachAbstract> machine(
        newMachine("Vyxcamera", directory, &machineChannel, &notifier));
    if (!machine) {
        std::fprintf(stderr, "vyxdemo: NewMMachAbstract gave no machine\n");
        return false;
    }
    std::printf("machine version %s, directory %s, sensor \"%s\"\n", machine->GetVersion().c_str(),
                machine->GetDirectory().c_str(), machine->GetSensorName().c_str());
    const bool opened = machine->Open();
    std::printf("Open(): %s%s\n", opened ? "true" : "false",
                opened ? "" : " (the camera machine's opening is not built yet)");
    Send(machineChannel);

    Transaction(
        1, "get time",
        [&](MOutputChannel* out) -> MMachCommand* {
            return machine->NewMMachGetCommand(out, {"time"});
        },
        [](MMachCommand& command, MOutputChannel& out) {
            out.Data(static_cast<MMachGetCommand&>(command).GetValues());
        });
    Transaction(2, "probe define 1 1 x=0 y=0 z=0 d=2", [&](MOutputChannel* out) {
        return machine->NewMMachProbeDefineCommand(out, 1, 1,
                                                   {{"x", 0}, {"y", 0}, {"z", 0}, {"d", 2}});
    });
    Transaction(3, "scandata time imageindex", [&](MOutputChannel* out) {
        return machine->NewMMachScandataCommand(out, {"time", "imageindex"});
    });
    Transaction(4, "imagefifo select images", [&](MOutputChannel* out) {
        return machine->NewMMachImagefifoSelectCommand(out, "images");
    });

    machine->PollAsyncErrors();
    const bool closed = machine->Close();
    std::printf("Close(): %s\n", closed ? "true" : "false");
    machine.reset();
    Send(machineChannel);
    std::printf("wake-ups received: %d\n", notifier.wakeUps.load());
    if (!closed)
        std::fprintf(stderr, "vyxdemo: the machine failed to close\n");
    return closed;
}
