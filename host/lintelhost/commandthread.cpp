#include "host/lintelhost/commandthread.h"

#include "host/lintelhost/errlogtap.h"
#include "host/lintelhost/hostplatform.h"
#include "host/lintelhost/loadedmodule.h"
#include "host/lintelhost/machinehost.h"
#include "host/lintelhost/replysink.h"
#include "lintel/server/commands/moutputchannel.h"
#include "lintel/server/machine/mmachabstract.h"
#include "platform/trace/tracesink.h"

#include <chrono>
#include <cstdio>
#include <memory>

namespace {

// While a transaction runs the host polls at least this often.
constexpr std::chrono::milliseconds kPollInterval{20};
// While measurand lines flow it polls this often, so that a line reaches its client within a
// millisecond rather than a round or the machine's wake-up later; it goes back to the rounds
// once no line came for a while.
constexpr std::chrono::milliseconds kFlowPollInterval{1};
constexpr std::chrono::milliseconds kFlowQuiet{25};
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

CommandThread::CommandThread(LoadedModule& module, HostInbox& inbox, ReplySink& sink,
                             ErrlogTap& errlog)
    : module(module), inbox(inbox), sink(sink), errlog(errlog), notifier(inbox) {}

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
    const long self = vyx::trace::CurrentThreadId();
    MOutputChannel machineChannel(0);
    std::unique_ptr<MMachAbstract> machine(
        module.newMachine(name, directory, &machineChannel, &notifier));
    if (!machine) {
        std::fprintf(stderr, "lintelhost: NewMMachAbstract gave no machine\n");
        opened.set_value(false);
        return;
    }
    errlog.Take(); // what came before the machine is not its reason
    const bool open = machine->Open();
    std::string said;
    machineChannel.Take(said, true);
    std::string reason;
    for (const ErrlogLine& line : errlog.Take()) {
        if (!open && !errlog.Echoes())
            std::fprintf(stderr, "%s\n", line.raw.c_str());
        if (line.thread == self)
            reason += (reason.empty() ? "" : "; ") + line.text;
    }
    if (!open) {
        std::fprintf(stderr, "lintelhost: the machine \"%s\" on %s did not open:\n", name.c_str(),
                     directory.c_str());
        PrintLines(said);
        std::fflush(stderr);
        machine.reset();
        opened.set_value(false);
        return;
    }
    // What the machine said while opening (a database or a camera that did not open, say),
    // and why, is for every client that comes; the operator sees it too.
    PrintLines(said);
    opened.set_value(true);

    MachineHost host(*machine, machineChannel, sink, {said, reason}, errlog, self);
    MachineHost::Round round;
    auto lastFlow = std::chrono::steady_clock::now() - kFlowQuiet;
    for (bool stop = false; !stop;) {
        const bool flowing = round.runs && std::chrono::steady_clock::now() - lastFlow < kFlowQuiet;
        const auto wait = round.more   ? std::chrono::milliseconds(0)
                          : flowing    ? kFlowPollInterval
                          : round.runs ? kPollInterval
                                       : kNoLimit;
        for (HostEvent& event : inbox.Wait(wait)) {
            switch (event.kind) {
            case HostEvent::Kind::Connect:
                host.Connect(event.client, std::move(event.budget));
                break;
            case HostEvent::Kind::Line:
                host.Line(event.client, std::move(event.line));
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
        round = host.Poll();
        if (round.lines > 0)
            lastFlow = std::chrono::steady_clock::now();
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
