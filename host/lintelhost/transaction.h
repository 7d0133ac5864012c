#pragma once
// One running transaction of one client: its output channel, and what it polls: a command
// object of the machine, or the autoinfo or a preview the transaction started.
//
// The channel outlives the command (commands write into it until deleted) and every preview
// that keeps a pointer to it (the transaction stops the preview before it goes).

#include "host/lintelhost/hostinbox.h"
#include "lintel/server/commands/moutputchannel.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class ImageLedger;
class MMachAbstract;
class MMachCommand;

class Transaction {
public:
    enum class Kind {
        Immediate,     // everything is in the channel already
        Command,       // polled until IsDone
        Get,           // ... then its values become a data line
        Receive,       // ... then its data text becomes a data line
        Scan,          // ... and every measurand line becomes a data line
        Scanpoint,     // as Scan
        Autoinfo,      // a data line for every autoinfo answer, until autoinfo stops
        PreviewMemory, // open while the preview memory of `previewName` runs
        PreviewWindow, // open while the preview window runs
    };

    Transaction(ClientId client, int tid);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    // What the keyword started. `command` (owned from now on) may be null: the factory then
    // failed and its lines are in the channel.
    void BeginCommand(Kind kind, MMachCommand* command);
    void BeginAutoinfo() { kind = Kind::Autoinfo; }
    void BeginPreviewMemory(const std::string& probesystem);
    void BeginPreviewWindow() { kind = Kind::PreviewWindow; }

    // What one round of polling took of the measurand lines.
    struct Lines {
        size_t taken = 0;
        bool more = false; // lines were left for the next round
    };
    // One round of polling; true when the transaction is over. At most `maxLines` measurand
    // lines are taken per round.
    bool Poll(MMachAbstract& machine, size_t maxLines, Lines& lines);
    // Stops what runs (command, autoinfo, preview) and adds the "aborted" error with `reason`;
    // the transaction is over afterwards.
    void Abort(MMachAbstract& machine, std::string reason);
    // Ends without a word: for a preview or autoinfo that a stop request ended.
    void Forget();

    // For a scan: column `column` of its lines holds the block of FIFO `fifo` that holds the
    // line's image; the ledger learns of each block handed to the client.
    void TrackImages(size_t column, ImageLedger& ledger, const std::string& fifo);
    // For a scandata request: its axes, which the host remembers once it succeeds.
    void SetScandataAxes(std::vector<std::string> axes);
    const std::vector<std::string>* ScandataAxes() const;

    // An error the host found itself, and why.
    void Error(int32_t code, std::string reason);
    // A line the machine logged while serving this transaction: part of the reason of an
    // error reply.
    void AddLogged(const std::string& text);
    // The channel's text so far; with `final` also the deferred events, after an error reply
    // an info line with its reason (`logged` what the machine logged, else the host's own; `more`
    // is added to it), and the ready line.
    std::string TakeReply(bool final, const std::string& more = std::string());

    ClientId Client() const { return client; }
    int Tid() const { return tid; }
    Kind GetKind() const { return kind; }
    const std::string& PreviewName() const { return previewName; }
    MOutputChannel& Channel() { return *channel; }
    bool IsMeasurement() const { return kind == Kind::Scan || kind == Kind::Scanpoint; }
    // It makes lines for as long as it runs.
    bool Streams() const { return IsMeasurement() || kind == Kind::Autoinfo; }
    bool HasLogged() const { return !logged.empty(); }

private:
    bool PollCommand(size_t maxLines, Lines& lines);

    ClientId client;
    int tid;
    Kind kind = Kind::Immediate;
    std::unique_ptr<MOutputChannel> channel; // before `command`: destroyed after it
    std::unique_ptr<MMachCommand> command;
    std::string previewName;
    size_t imageColumn = SIZE_MAX;
    ImageLedger* ledger = nullptr;
    std::string imageFifo;
    std::string logged;     // what the machine logged for it
    std::string hostReason; // why the host refused it
    bool isScandata = false;
    std::vector<std::string> scandataAxes;
};
