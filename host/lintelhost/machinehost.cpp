#include "host/lintelhost/machinehost.h"

#include "host/lintelhost/replysink.h"
#include "host/lintelhost/requestarguments.h"
#include "host/lintelhost/requestparser.h"
#include "host/lintelhost/transaction.h"
#include "lintel/server/commands/moutputchannel.h"
#include "lintel/server/machine/mmachabstract.h"

#include <algorithm>

namespace {

constexpr int32_t kSyntaxInvalid = 1;
constexpr int32_t kMissingArgument = 2;
constexpr int32_t kInvalidArgument = 3;
constexpr int32_t kTidMissing = 11;
constexpr int32_t kTidInvalid = 12;
constexpr int32_t kTidUnused = 13;
constexpr int32_t kCommandMissing = 14;
constexpr int32_t kCommandUnknown = 15;
constexpr int32_t kCommandActive = 19;
constexpr int32_t kWarningNoEffect = 10004;

// Measurand lines taken from one scan per round, so that one fast scan cannot hold up the
// other clients; the rest follows in the next round at once.
constexpr size_t kMaxLinesPerRound = 2048;

// Words that only start a keyword: alone or with an unknown next word they are no command.
bool IsKeywordGroup(const std::vector<std::string>& words, size_t at) {
    static const char* const groups[] = {"probe", "probesystem", "imagefifo", "autoinfo",
                                         "preview"};
    if (at == 0)
        return std::find_if(std::begin(groups), std::end(groups),
                            [&](const char* g) { return words[0] == g; }) != std::end(groups);
    return words[0] == "preview" && (words[1] == "memory" || words[1] == "window");
}

// The channel line for an error found before there is a transaction number.
std::string UnnumberedError(int32_t code) {
    MOutputChannel channel(0);
    channel.Error(code);
    std::string text;
    channel.Take(text, false);
    channel.Clear();
    return text;
}

bool Argless(Transaction& t, const std::vector<std::string>& args) {
    if (args.empty())
        return true;
    t.Channel().Error(kSyntaxInvalid);
    return false;
}

} // namespace

MachineHost::MachineHost(MMachAbstract& machine, MOutputChannel& machineChannel, ReplySink& sink,
                         std::string greeting)
    : machine(machine), machineChannel(machineChannel), sink(sink), requests(machine),
      greeting(std::move(greeting)) {}

MachineHost::~MachineHost() = default;

void MachineHost::Connect(ClientId client) {
    Client& state = clients[client];
    state.out += greeting;
}

void MachineHost::Line(ClientId client, std::string_view line) {
    auto it = clients.find(client);
    if (it == clients.end() || it->second.quitting)
        return; // a quitting client's further lines are not served
    Request(client, it->second, line);
}

void MachineHost::Overlong(ClientId client) {
    auto it = clients.find(client);
    if (it != clients.end())
        it->second.out += UnnumberedError(kSyntaxInvalid);
}

void MachineHost::Disconnect(ClientId client) {
    auto state = clients.find(client);
    if (state == clients.end())
        return;
    for (auto it = running.begin(); it != running.end();) {
        if ((*it)->Client() == client) {
            (*it)->Abort(machine);
            // Nobody is left to free the images of the lines this client was sent.
            (*it)->ReleaseDeliveredImages();
            Finish(**it);
            it = running.erase(it);
        } else {
            ++it;
        }
    }
    // A client that only closed its sending side still gets the replies to what it sent;
    // Flush closes the connection after them and forgets the client.
    state->second.quitting = true;
    state->second.gone = true;
}

void MachineHost::Request(ClientId client, Client& state, std::string_view line) {
    ParsedRequest request = ParseRequestLine(line);
    using Status = ParsedRequest::Status;
    if (request.status == Status::TidMissing) {
        state.out += UnnumberedError(kTidMissing);
        return;
    }
    if (request.status == Status::TidInvalid || Find(client, request.tid) != running.end()) {
        state.out += UnnumberedError(kTidInvalid);
        return;
    }
    auto transaction = std::make_unique<Transaction>(client, request.tid);
    const std::vector<std::string>& words = request.words;
    if (request.status == Status::KeywordMissing) {
        transaction->Channel().Error(kCommandMissing);
    } else if (request.status == Status::SyntaxInvalid) {
        transaction->Channel().Error(kSyntaxInvalid);
    } else if ((words[0] == "scan" || words[0] == "scanpoint") &&
               std::any_of(running.begin(), running.end(),
                           [](const auto& t) { return t->IsMeasurement(); })) {
        // The machine has one measurement; a second one would take the first one's lines.
        transaction->Channel().Error(kCommandActive);
    } else if (!HostKeyword(*transaction, state, words) &&
               !StartMachineKeyword(*transaction, words)) {
        const bool group = IsKeywordGroup(words, 0);
        const bool subgroup = group && words.size() >= 2 && IsKeywordGroup(words, 1);
        const size_t need = subgroup ? 3 : group ? 2 : 1;
        transaction->Channel().Error(words.size() < need ? kCommandMissing : kCommandUnknown);
    }
    Launch(std::move(transaction));
}

bool MachineHost::HostKeyword(Transaction& t, Client& state, const std::vector<std::string>& w) {
    auto rest = [&](size_t used) {
        return std::vector<std::string>(w.begin() + long(used), w.end());
    };
    if (w[0] == "abort") {
        Abort(t, rest(1));
    } else if (w[0] == "quit") {
        // What the client still runs ends first, so that it sees each end; the connection
        // closes once the quit's ready line is out (Flush).
        if (Argless(t, rest(1))) {
            state.quitting = true;
            for (auto it = running.begin(); it != running.end();) {
                if ((*it)->Client() != t.Client()) {
                    ++it;
                    continue;
                }
                (*it)->Abort(machine);
                Finish(**it);
                it = running.erase(it);
            }
        }
    } else if (w[0] == "autoinfo" && w.size() >= 2 && w[1] == "stop") {
        StopAutoinfo(t, rest(2));
    } else if (w[0] == "preview" && w.size() >= 3 && w[1] == "memory" && w[2] == "stop") {
        StopPreviewMemory(t, rest(3));
    } else if (w[0] == "preview" && w.size() >= 3 && w[1] == "window" && w[2] == "stop") {
        StopPreviewWindow(t, rest(3));
    } else {
        return false;
    }
    return true;
}

void MachineHost::Abort(Transaction& t, const std::vector<std::string>& args) {
    if (args.empty()) {
        t.Channel().Error(kMissingArgument);
        return;
    }
    uint32_t tid = 0;
    if (args.size() > 1) {
        t.Channel().Error(kSyntaxInvalid);
        return;
    }
    if (!ParseUnsigned32(args[0], tid) || tid < 1 || tid > uint32_t(kMaxTransactionNumber)) {
        t.Channel().Error(kInvalidArgument);
        return;
    }
    auto it = Find(t.Client(), int(tid));
    if (it == running.end()) {
        t.Channel().Error(kTidUnused);
        return;
    }
    (*it)->Abort(machine);
    Finish(**it);
    running.erase(it);
}

template <class Match> bool MachineHost::EndRunning(Match match) {
    auto it =
        std::find_if(running.begin(), running.end(), [&](const auto& t) { return match(*t); });
    if (it == running.end())
        return false;
    (*it)->Forget();
    Finish(**it);
    running.erase(it);
    return true;
}

void MachineHost::StopAutoinfo(Transaction& t, const std::vector<std::string>& args) {
    if (!Argless(t, args))
        return;
    if (!machine.HasAutoinfo()) {
        t.Channel().Error(kCommandUnknown);
        return;
    }
    if (!machine.IsAutoinfoRunning()) {
        t.Channel().Warning(kWarningNoEffect);
        return;
    }
    machine.StopAutoinfo();
    EndRunning([](Transaction& r) { return r.GetKind() == Transaction::Kind::Autoinfo; });
}

void MachineHost::StopPreviewMemory(Transaction& t, const std::vector<std::string>& args) {
    if (args.size() != 1) {
        t.Channel().Error(args.empty() ? kMissingArgument : kSyntaxInvalid);
        return;
    }
    if (!machine.HasPreviewMemory()) {
        t.Channel().Error(kCommandUnknown);
        return;
    }
    const std::string& name = args[0];
    if (!machine.IsPreviewMemoryRunning(name)) {
        t.Channel().Warning(kWarningNoEffect);
        return;
    }
    if (!machine.StopPreviewMemory(name))
        t.Channel().Error(kInvalidArgument);
    EndRunning([&](Transaction& r) {
        return r.GetKind() == Transaction::Kind::PreviewMemory && r.PreviewName() == name;
    });
}

void MachineHost::StopPreviewWindow(Transaction& t, const std::vector<std::string>& args) {
    if (!Argless(t, args))
        return;
    if (!machine.HasPreview()) {
        t.Channel().Error(kCommandUnknown);
        return;
    }
    if (!machine.IsPreviewRunning()) {
        t.Channel().Warning(kWarningNoEffect);
        return;
    }
    machine.StopPreview();
    EndRunning([](Transaction& r) { return r.GetKind() == Transaction::Kind::PreviewWindow; });
}

bool MachineHost::StartMachineKeyword(Transaction& t, const std::vector<std::string>& words) {
    if (words[0] == "scandata")
        t.SetScandataAxes(std::vector<std::string>(words.begin() + 1, words.end()));
    if (!requests.Start(t, words))
        return false;
    if (words[0] == "scan" || words[0] == "scanpoint") {
        auto column = std::find(scandata.begin(), scandata.end(), "imageindex");
        const MMachImagefifo* fifo = machine.GetActiveImageFifo();
        if (column != scandata.end() && fifo != nullptr)
            t.TrackImages(size_t(column - scandata.begin()), fifo->ringBuffer64,
                          fifo->ringBuffer32);
    }
    return true;
}

void MachineHost::Launch(std::unique_ptr<Transaction> transaction) {
    bool more = false;
    if (transaction->Poll(machine, kMaxLinesPerRound, more)) {
        Finish(*transaction);
        return;
    }
    auto it = clients.find(transaction->Client());
    if (it != clients.end())
        it->second.out += transaction->TakeReply(false);
    running.push_back(std::move(transaction));
}

void MachineHost::Finish(Transaction& transaction) {
    if (const std::vector<std::string>* axes = transaction.ScandataAxes())
        scandata = transaction.Channel().HasError() ? std::vector<std::string>() : *axes;
    std::string text = transaction.TakeReply(true);
    auto it = clients.find(transaction.Client());
    if (it != clients.end())
        it->second.out += text;
}

MachineHost::Running::iterator MachineHost::Find(ClientId client, int tid) {
    return std::find_if(running.begin(), running.end(),
                        [&](const auto& t) { return t->Client() == client && t->Tid() == tid; });
}

bool MachineHost::Poll(bool& more) {
    for (auto it = running.begin(); it != running.end();) {
        Transaction& t = **it;
        if (t.Poll(machine, kMaxLinesPerRound, more)) {
            Finish(t);
            it = running.erase(it);
            continue;
        }
        auto client = clients.find(t.Client());
        if (client != clients.end())
            client->second.out += t.TakeReply(false);
        ++it;
    }
    machine.PollAsyncErrors();
    std::string text;
    if (machineChannel.Take(text, true))
        SendToAll(text);
    return !running.empty();
}

void MachineHost::Shutdown() {
    for (auto& t : running) {
        t->Abort(machine);
        Finish(*t);
    }
    running.clear();
    // Whatever a client or a failed stop left behind.
    if (machine.IsAutoinfoRunning())
        machine.StopAutoinfo();
    if (machine.IsPreviewRunning())
        machine.StopPreview();
    std::string text;
    machineChannel.Take(text, true);
    SendToAll(text);
    Flush();
}

void MachineHost::SendToAll(const std::string& text) {
    if (text.empty())
        return;
    for (auto& [id, client] : clients)
        client.out += text;
}

void MachineHost::Flush() {
    for (auto it = clients.begin(); it != clients.end();) {
        Client& client = it->second;
        if (!client.out.empty()) {
            sink.Send(it->first, std::move(client.out));
            client.out.clear();
        }
        if (client.quitting && !client.closing) {
            client.closing = true;
            sink.Close(it->first);
        }
        it = client.gone ? clients.erase(it) : std::next(it);
    }
}
