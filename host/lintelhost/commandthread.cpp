#include "host/lintelhost/commandthread.h"

#include "host/lintelhost/errlogtail.h"
#include "host/lintelhost/hostplatform.h"
#include "host/lintelhost/loadedmodule.h"
#include "host/lintelhost/machinehost.h"
#include "host/lintelhost/replysink.h"
#include "lintel/server/commands/moutputchannel.h"
#include "lintel/server/machine/mmachabstract.h"

#include <chrono>
#include <cstdio>
#include <memory>

namespace {

// While a transaction runs the host polls at least this often.
constexpr std::chrono::milliseconds kPollInterval{20};
constexpr std::chrono::milliseconds kNoLimit{-1};

// Each line of a channel's text to standard error, marked as the machine's.
void PrintLines(const std::string& text) {
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find("\r\n", start);
        if (end == std::string::npos)
            end = text.size();
        std::fprintf(stderr, "lintelhost: machine: %s\n", text.substr(start, end - start).c_str());
        start = end + 2;
    }
}

} // namespace

CommandThread::CommandThread(LoadedModule& module, HostInbox& inbox, ReplySink& sink)
    : module(module), inbox(inbox), sink(sink), notifier(inbox) {}

CommandThread::~CommandThread() {
    Join();
}

bool CommandThread::Start(const std::string& name, const std::string& directory) {
    std::future<bool> result = opened.get_future();
    thread = std::thread(&CommandThread::Run, this, name, directory);
    return result.get();
}

void CommandThread::Join() {
    if (thread.joinable())
        thread.join();
}

void CommandThread::Run(std::string name, std::string directory) {
    HostPlatform_NameThisThread("lh-command");
    MOutputChannel machineChannel(0);
    std::unique_ptr<MMachAbstract> machine(
        module.newMachine(name, directory, &machineChannel, &notifier));
    if (!machine) {
        std::fprintf(stderr, "lintelhost: NewMMachAbstract gave no machine\n");
        opened.set_value(false);
        return;
    }
    ErrlogTail errlog;
    if (!machine->Open()) {
        std::string text;
        machineChannel.Take(text, true);
        std::fprintf(stderr, "lintelhost: the machine \"%s\" on %s did not open:\n", name.c_str(),
                     directory.c_str());
        PrintLines(text);
        errlog.EchoNewLines(stderr);
        std::fflush(stderr);
        machine.reset();
        opened.set_value(false);
        return;
    }
    // What the machine said while opening (a database that did not open, say) is for every
    // client that comes; the operator sees it too.
    std::string greeting;
    machineChannel.Take(greeting, true);
    PrintLines(greeting);
    opened.set_value(true);

    MachineHost host(*machine, machineChannel, sink, greeting);
    bool runs = false;
    bool more = false;
    for (bool stop = false; !stop;) {
        const auto wait = more ? std::chrono::milliseconds(0) : runs ? kPollInterval : kNoLimit;
        for (HostEvent& event : inbox.Wait(wait)) {
            switch (event.kind) {
            case HostEvent::Kind::Connect:
                host.Connect(event.client);
                break;
            case HostEvent::Kind::Line:
                host.Line(event.client, event.line);
                break;
            case HostEvent::Kind::Overlong:
                host.Overlong(event.client);
                break;
            case HostEvent::Kind::Disconnect:
                host.Disconnect(event.client);
                break;
            case HostEvent::Kind::Shutdown:
                stop = true;
                break;
            }
            if (stop)
                break;
        }
        if (stop)
            break;
        more = false;
        runs = host.Poll(more);
        host.Flush();
    }
    host.Shutdown();
    machine->Close();
    machine.reset();
    std::string last;
    if (machineChannel.Take(last, true))
        PrintLines(last);
    sink.Stop();
}
