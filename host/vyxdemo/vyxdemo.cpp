// vyxdemo: drives the camera module the way the server does.
//
// Loads libvyxcamera.so with dlopen, creates the machine with a machine-level output
// channel and a client notifier, opens it, runs a few protocol transactions through the
// machine's factories (one output channel each), prints the reply lines as the server would
// send them, then closes and deletes the machine.
//
// Usage: vyxdemo [--module PATH] [--dir HOST_DIRECTORY] [--trace LEVEL]

#include "lintel/server/commands/moutputchannel.h"
#include "lintel/server/machine/mclientnotifier.h"
#include "lintel/server/machine/mmachabstract.h"

#include <dlfcn.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>

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

int main(int argc, char** argv) {
    std::string modulePath = VYX_MODULE_PATH;
    std::string directory = "/tmp/vyxdemo";
    int traceLevel = -1;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--module") == 0)
            modulePath = argv[i + 1];
        else if (std::strcmp(argv[i], "--dir") == 0)
            directory = argv[i + 1];
        else if (std::strcmp(argv[i], "--trace") == 0)
            traceLevel = std::atoi(argv[i + 1]);
    }

    void* module = dlopen(modulePath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
        std::fprintf(stderr, "vyxdemo: cannot load %s: %s\n", modulePath.c_str(), dlerror());
        return 1;
    }
    auto isProxy = reinterpret_cast<IsProxyFunction>(dlsym(module, "IsProxy"));
    auto newMachine = reinterpret_cast<NewMachineFunction>(dlsym(module, "NewMMachAbstract"));
    auto setLevel = reinterpret_cast<SetLevelFunction>(dlsym(module, "SetDefaultTracelevel"));
    if (isProxy == nullptr || newMachine == nullptr || setLevel == nullptr) {
        std::fprintf(stderr, "vyxdemo: %s lacks the module entry points\n", modulePath.c_str());
        dlclose(module);
        return 1;
    }
    if (traceLevel >= 0)
        setLevel(traceLevel);
    std::printf("module %s (proxy: %s)\n", modulePath.c_str(), isProxy() ? "yes" : "no");

    int status = 0;
    {
        MOutputChannel machineChannel(0);
        DemoNotifier notifier;
        std::unique_ptr<MMachAbstract> machine(
            newMachine("Vyxcamera", directory, &machineChannel, &notifier));
        std::printf("machine version %s, directory %s, sensor \"%s\"\n",
                    machine->GetVersion().c_str(), machine->GetDirectory().c_str(),
                    machine->GetSensorName().c_str());
        bool opened = machine->Open();
        std::printf("Open(): %s\n", opened ? "true" : "false");
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
        if (!machine->Close())
            status = 1;
        std::printf("Close(): %s\n", status == 0 ? "true" : "false");
        machine.reset();
        Send(machineChannel);
        std::printf("wake-ups received: %d\n", notifier.wakeUps.load());
    }
    dlclose(module);
    return status;
}
