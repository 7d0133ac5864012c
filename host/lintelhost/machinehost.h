#pragma once
// The host's side of the protocol, run on the command thread: the clients, their running
// transactions, the keywords that act on other transactions, and the polling.
//
// Each request line becomes a transaction that is polled at once; one that is not over stays
// in the table and is polled again on every round. What a transaction's channel collects is
// sent to its client after every round, the ready line once it is over. The machine's own
// channel goes to every client. All of it runs on one thread: the one that makes every call
// into the machine.

#include "host/lintelhost/hostinbox.h"
#include "host/lintelhost/machinerequests.h"

#include <list>
#include <map>
#include <memory>
#include <string>
#include <string_view>

class MMachAbstract;
class MOutputChannel;
class ReplySink;
class Transaction;

class MachineHost {
public:
    // `greeting` (the machine channel's text after Open) goes to every client that connects.
    MachineHost(MMachAbstract& machine, MOutputChannel& machineChannel, ReplySink& sink,
                std::string greeting);
    ~MachineHost();
    MachineHost(const MachineHost&) = delete;
    MachineHost& operator=(const MachineHost&) = delete;

    void Connect(ClientId client);
    void Line(ClientId client, std::string_view line);
    // A line over the length limit was dropped.
    void Overlong(ClientId client);
    // Aborts the client's transactions, stops what they started; the client is forgotten
    // after the next Flush.
    void Disconnect(ClientId client);

    // One round: polls every transaction, the machine's asynchronous errors and its channel.
    // True while a transaction runs; `more` when measurand lines are left for the next round.
    bool Poll(bool& more);
    // Aborts every transaction (the clients get their lines), stops autoinfo and previews.
    void Shutdown();
    // Sends what the round collected.
    void Flush();

private:
    struct Client {
        bool quitting = false; // said "quit": its further lines are not served
        bool closing = false;  // its connection is being closed
        bool gone = false;     // disconnected: forgotten after the next Flush
        std::string out;       // collected in this round
    };
    using Running = std::list<std::unique_ptr<Transaction>>;

    void Request(ClientId client, Client& state, std::string_view line);
    // Keywords that act on other transactions; false when `words` is none of them.
    bool HostKeyword(Transaction& transaction, Client& state,
                     const std::vector<std::string>& words);
    void Abort(Transaction& transaction, const std::vector<std::string>& args);
    void StopAutoinfo(Transaction& transaction, const std::vector<std::string>& args);
    void StopPreviewMemory(Transaction& transaction, const std::vector<std::string>& args);
    void StopPreviewWindow(Transaction& transaction, const std::vector<std::string>& args);
    // Ends the running transaction that matches, with its ready line; false when none does.
    template <class Match> bool EndRunning(Match match);

    // The keywords of MachineRequests, and what the host keeps of them.
    bool StartMachineKeyword(Transaction& transaction, const std::vector<std::string>& words);
    // Polls a new transaction once; keeps it when it is not over.
    void Launch(std::unique_ptr<Transaction> transaction);
    void Finish(Transaction& transaction);
    Running::iterator Find(ClientId client, int tid);
    void SendToAll(const std::string& text);

    MMachAbstract& machine;
    MOutputChannel& machineChannel;
    ReplySink& sink;
    MachineRequests requests;
    std::string greeting;
    std::map<ClientId, Client> clients;
    Running running;
    // The axes of the last scandata request that succeeded: where a scan's lines carry their
    // image block ("imageindex").
    std::vector<std::string> scandata;
};
