#pragma once
// The host's side of the protocol, run on the command thread: the clients, their running
// transactions, the keywords that act on other transactions, and the polling.
//
// Each request line becomes a transaction that is polled at once; one that is not over stays
// in the table and is polled again on every round. What a transaction's channel collects is
// sent to its client after every round, the ready line once it is over; after an error, an
// info line with the machine's reason comes before the ready line. The machine's own channel
// goes to every client. All of it runs on one thread: the one that makes every call into the
// machine.
//
// A client whose unread replies are at their bound (ClientBudget) gets nothing new: its
// further requests wait, and its scans and autoinfo are not polled, until it reads.

#include "host/lintelhost/hostinbox.h"
#include "host/lintelhost/imageledger.h"
#include "host/lintelhost/machinerequests.h"

#include <deque>
#include <list>
#include <map>
#include <memory>
#include <string>
#include <string_view>

class ErrlogTap;
class MMachAbstract;
class MOutputChannel;
class ReplySink;
class Transaction;

class MachineHost {
public:
    // What the machine said while it opened, for every client that connects: the machine
    // channel's text, and the reason behind it that the machine logged (empty when none).
    struct Greeting {
        std::string lines;
        std::string reason;
    };

    // `errlog` gives the lines the machine logs; those of thread `commandThread` (this one)
    // belong to the transaction being served.
    MachineHost(MMachAbstract& machine, MOutputChannel& machineChannel, ReplySink& sink,
                Greeting greeting, ErrlogTap& errlog, long commandThread);
    ~MachineHost();
    MachineHost(const MachineHost&) = delete;
    MachineHost& operator=(const MachineHost&) = delete;

    void Connect(ClientId client, std::shared_ptr<ClientBudget> budget);
    // A request line, served by the next Poll.
    void Line(ClientId client, std::string line);
    // A line over the length limit was dropped.
    void Overlong(ClientId client);
    // Once the requests it sent before are served: aborts the client's transactions, stops
    // what they started, releases its images; the client is forgotten after the next Flush.
    void Disconnect(ClientId client);

    struct Round {
        bool runs = false; // a transaction runs, or a client waits: poll again soon
        bool more = false; // measurand lines were left: poll again at once
        size_t lines = 0;  // measurand lines taken
    };
    // One round: serves each client's requests (a share of them), polls every transaction,
    // the machine's asynchronous errors and its channel.
    Round Poll();
    // Aborts every transaction (the clients get their lines), stops autoinfo and previews.
    void Shutdown();
    // Sends what the round collected.
    void Flush();

private:
    struct Client {
        std::shared_ptr<ClientBudget> budget;
        std::deque<std::string> waiting; // requests not served while the client was held
        bool quitting = false;           // said "quit": its further lines are not served
        bool closing = false;            // its connection is being closed
        bool disconnected = false;       // its reading ended; its requests are still served
        bool gone = false;               // forgotten after the next Flush
        std::string out;                 // collected in this round
    };
    using Running = std::list<std::unique_ptr<Transaction>>;

    bool Held(const Client& client) const;
    // Serves the client's waiting requests while it is not held, at most a round's share;
    // true when it has more for the next round.
    bool Serve(ClientId id, Client& client);
    void Request(ClientId client, Client& state, std::string_view line);
    void Leave(ClientId id, Client& client);
    // Keywords that act on other transactions; false when `words` is none of them.
    bool HostKeyword(Transaction& transaction, Client& state,
                     const std::vector<std::string>& words);
    void Abort(Transaction& transaction, const std::vector<std::string>& args);
    void StopAutoinfo(Transaction& transaction, const std::vector<std::string>& args);
    void StopPreviewMemory(Transaction& transaction, const std::vector<std::string>& args);
    void StopPreviewWindow(Transaction& transaction, const std::vector<std::string>& args);
    // Ends the running transaction that matches, with its ready line; false when none does.
    template <class Match> bool EndRunning(Match match);
    // Aborts and ends the client's running transactions.
    void AbortAll(ClientId client, const std::string& reason);

    // The keywords of MachineRequests, and what the host keeps of them.
    bool StartMachineKeyword(Transaction& transaction, const std::vector<std::string>& words);
    // Polls a new transaction once; keeps it when it is not over.
    void Launch(std::unique_ptr<Transaction> transaction);
    // Polls a transaction once; true when it is over.
    bool PollOne(Transaction& transaction, Round& round);
    void Finish(Transaction& transaction);
    // Hands what the machine logged since the last call to `transaction` (may be null).
    void Logged(Transaction* transaction);
    bool MeasurementRuns() const;
    Running::iterator Find(ClientId client, int tid);
    void SendToAll(const std::string& text);

    MMachAbstract& machine;
    MOutputChannel& machineChannel;
    ReplySink& sink;
    MachineRequests requests;
    Greeting greeting;
    ErrlogTap& errlog;
    long commandThread;
    std::map<ClientId, Client> clients;
    Running running;
    ImageLedger images;
    // The axes of the last scandata request that succeeded: where a scan's lines carry their
    // image block ("imageindex").
    std::vector<std::string> scandata;
};
