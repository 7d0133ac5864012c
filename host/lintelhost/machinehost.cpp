#include "host/lintelhost/machinehost.h"

#include "host/lintelhost/clientbudget.h"
#include "host/lintelhost/errlogtap.h"
#include "host/lintelhost/replysink.h"
#include "host/lintelhost/requestarguments.h"
#include "host/lintelhost/requestparser.h"
#include "host/lintelhost/textescape.h"
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
// Requests served of one client per round, for the same reason: the replies of a round go
// out at its end, so a round must be short.
constexpr size_t kMaxRequestsPerRound = 64;
constexpr size_t kMaxRequestBytesPerRound = 64 * 1024;

// Stands for an overlong line among the requests a held client left waiting (a real line
// never holds a line feed).
const std::string kOverlong = "\n";

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

bool Argless(Transaction& t, const std::string& keyword, const std::vector<std::string>& args) {
    if (args.empty())
        return true;
    t.Error(kSyntaxInvalid, keyword + " takes no arguments");
    return false;
}

} // namespace

MachineHost::MachineHost(MMachAbstract& machine, MOutputChannel& machineChannel, ReplySink& sink,
                         Greeting greeting, ErrlogTap& errlog, long commandThread)
    : machine(machine), machineChannel(machineChannel), sink(sink), requests(machine),
      greeting(std::move(greeting)), errlog(errlog), commandThread(commandThread) {}

MachineHost::~MachineHost() = default;

void MachineHost::Connect(ClientId id, std::shared_ptr<ClientBudget> budget) {
    Client& client = clients[id];
    client.budget = std::move(budget);
    client.out += greeting.lines;
    if (!greeting.reason.empty())
        client.out += "0000\tinfo " + QuoteText(greeting.reason) + "\r\n";
}

bool MachineHost::Held(const Client& client) const {
    return client.budget != nullptr && client.budget->RepliesFull(client.out.size());
}

void MachineHost::Line(ClientId id, std::string line) {
    auto it = clients.find(id);
    if (it != clients.end())
        it->second.waiting.push_back(std::move(line));
}

void MachineHost::Overlong(ClientId id) {
    auto it = clients.find(id);
    if (it != clients.end())
        it->second.waiting.push_back(kOverlong);
}

bool MachineHost::Serve(ClientId id, Client& client) {
    size_t bytes = 0;
    for (size_t served = 0; !client.waiting.empty() && (client.quitting || !Held(client));
         ++served) {
        if (served == kMaxRequestsPerRound || bytes >= kMaxRequestBytesPerRound)
            return true;
        std::string line = std::move(client.waiting.front());
        client.waiting.pop_front();
        bytes += line.size();
        if (line == kOverlong) {
            if (!client.quitting)
                client.out += UnnumberedError(kSyntaxInvalid);
            continue;
        }
        if (client.budget != nullptr)
            client.budget->RequestServed(line.size());
        if (!client.quitting) // a quitting client's further lines are not served
            Request(id, client, line);
    }
    if (client.waiting.empty() && client.disconnected && !client.gone)
        Leave(id, client);
    return false;
}

void MachineHost::Disconnect(ClientId id) {
    auto it = clients.find(id);
    if (it == clients.end())
        return;
    // A client that only closed its sending side still gets the replies to what it sent;
    // it leaves once they are served (Poll).
    it->second.disconnected = true;
}

void MachineHost::Leave(ClientId id, Client& client) {
    AbortAll(id, "the client is gone");
    // Nobody is left to free the images of the lines this client was sent.
    images.Gone(id);
    images.Settle(machine, MeasurementRuns());
    // Flush closes the connection after the last replies and forgets the client.
    client.quitting = true;
    client.gone = true;
}

void MachineHost::AbortAll(ClientId id, const std::string& reason) {
    for (auto it = running.begin(); it != running.end();) {
        if ((*it)->Client() != id) {
            ++it;
            continue;
        }
        (*it)->Abort(machine, reason);
        Logged(it->get());
        Finish(**it);
        it = running.erase(it);
    }
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
        transaction->Error(kCommandMissing, "the line holds no keyword");
    } else if (request.status == Status::SyntaxInvalid) {
        transaction->Error(kSyntaxInvalid, "the words do not split: an open quote, an unknown "
                                           "escape or a quote inside a word");
    } else if ((words[0] == "scan" || words[0] == "scanpoint") && MeasurementRuns()) {
        // The machine has one measurement; a second one would take the first one's lines.
        transaction->Error(kCommandActive, "a measurement runs; the machine has one");
    } else if (!HostKeyword(*transaction, state, words) &&
               !StartMachineKeyword(*transaction, words)) {
        const bool group = IsKeywordGroup(words, 0);
        const bool subgroup = group && words.size() >= 2 && IsKeywordGroup(words, 1);
        const size_t need = subgroup ? 3 : group ? 2 : 1;
        std::string said = words[0];
        for (size_t i = 1; i < std::min(need, words.size()); ++i)
            said += " " + words[i];
        if (words.size() < need)
            transaction->Error(kCommandMissing, "\"" + said + "\" needs a further word");
        else
            transaction->Error(kCommandUnknown, "\"" + said + "\" is no keyword");
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
        if (Argless(t, "quit", rest(1))) {
            state.quitting = true;
            AbortAll(t.Client(), "the client quit");
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
    uint32_t tid = 0;
    if (args.size() != 1) {
        t.Error(args.empty() ? kMissingArgument : kSyntaxInvalid,
                "abort takes the number of one running transaction");
        return;
    }
    if (!ParseUnsigned32(args[0], tid) || tid < 1 || tid > uint32_t(kMaxTransactionNumber)) {
        t.Error(kInvalidArgument, "\"" + args[0] + "\" is no transaction number");
        return;
    }
    auto it = Find(t.Client(), int(tid));
    if (it == running.end()) {
        t.Error(kTidUnused, "no transaction " + args[0] + " of this client runs");
        return;
    }
    (*it)->Abort(machine, "aborted by request " + std::to_string(t.Tid()));
    Logged(it->get());
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
    if (!Argless(t, "autoinfo stop", args))
        return;
    if (!machine.HasAutoinfo()) {
        t.Error(kCommandUnknown, "the machine has no autoinfo");
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
        t.Error(args.empty() ? kMissingArgument : kSyntaxInvalid,
                "preview memory stop takes the probesystem name");
        return;
    }
    if (!machine.HasPreviewMemory()) {
        t.Error(kCommandUnknown, "the machine has no preview memory");
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
    if (!Argless(t, "preview window stop", args))
        return;
    if (!machine.HasPreview()) {
        t.Error(kCommandUnknown, "the machine has no preview window");
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
            t.TrackImages(size_t(column - scandata.begin()), images, fifo->name);
    }
    return true;
}

void MachineHost::Launch(std::unique_ptr<Transaction> transaction) {
    Round ignored;
    if (PollOne(*transaction, ignored)) {
        Finish(*transaction);
        return;
    }
    auto it = clients.find(transaction->Client());
    if (it != clients.end())
        it->second.out += transaction->TakeReply(false);
    running.push_back(std::move(transaction));
}

bool MachineHost::PollOne(Transaction& transaction, Round& round) {
    Transaction::Lines lines;
    const bool over = transaction.Poll(machine, kMaxLinesPerRound, lines);
    Logged(&transaction);
    round.lines += lines.taken;
    round.more = round.more || lines.more;
    return over;
}

void MachineHost::Logged(Transaction* transaction) {
    for (const ErrlogLine& line : errlog.Take())
        if (transaction != nullptr && line.thread == commandThread)
            transaction->AddLogged(line.text);
}

void MachineHost::Finish(Transaction& transaction) {
    if (const std::vector<std::string>* axes = transaction.ScandataAxes())
        scandata = transaction.Channel().HasError() ? std::vector<std::string>() : *axes;
    // A machine that started without its camera fails for that reason: say so with every
    // failure it logs.
    const bool degraded = transaction.HasLogged() && !greeting.reason.empty();
    std::string text = transaction.TakeReply(
        true, degraded ? "at its start the machine logged: " + greeting.reason : std::string());
    auto it = clients.find(transaction.Client());
    if (it != clients.end())
        it->second.out += text;
}

bool MachineHost::MeasurementRuns() const {
    return std::any_of(running.begin(), running.end(),
                       [](const auto& t) { return t->IsMeasurement(); });
}

MachineHost::Running::iterator MachineHost::Find(ClientId client, int tid) {
    return std::find_if(running.begin(), running.end(),
                        [&](const auto& t) { return t->Client() == client && t->Tid() == tid; });
}

MachineHost::Round MachineHost::Poll() {
    Round round;
    for (auto& [id, client] : clients) {
        if (Serve(id, client))
            round.more = true;
        else if (!client.waiting.empty() || (client.budget && client.budget->readingPaused))
            round.runs = true; // held: look again soon whether it reads
    }
    for (auto it = running.begin(); it != running.end();) {
        Transaction& t = **it;
        auto client = clients.find(t.Client());
        if (client != clients.end() && t.Streams() && Held(client->second)) {
            ++it; // its lines wait in the machine until the client reads
            continue;
        }
        if (PollOne(t, round)) {
            Finish(t);
            it = running.erase(it);
            continue;
        }
        if (client != clients.end())
            client->second.out += t.TakeReply(false);
        ++it;
    }
    machine.PollAsyncErrors();
    Logged(nullptr);
    std::string text;
    if (machineChannel.Take(text, true))
        SendToAll(text);
    images.Settle(machine, MeasurementRuns());
    round.runs = round.runs || !running.empty();
    return round;
}

void MachineHost::Shutdown() {
    for (auto& t : running) {
        t->Abort(machine, "the host is shutting down");
        Logged(t.get());
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
            if (client.budget != nullptr)
                client.budget->Queued(client.out.size());
            sink.Send(it->first, std::move(client.out));
            client.out.clear();
        }
        if (client.budget != nullptr && client.budget->readingPaused &&
            !client.budget->RequestsFull())
            sink.Served(it->first);
        if (client.quitting && !client.closing) {
            client.closing = true;
            sink.Close(it->first);
        }
        it = client.gone ? clients.erase(it) : std::next(it);
    }
}
