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

    // One round of polling; true when the transaction is over. At most `maxLines` measurand
    // lines are taken per round; `more` is set when lines were left for the next round.
    bool Poll(MMachAbstract& machine, size_t maxLines, bool& more);
    // Stops what runs (command, autoinfo, preview) and adds the "aborted" error; the
    // transaction is over afterwards.
    void Abort(MMachAbstract& machine);
    // Ends without a word: for a preview or autoinfo that a stop request ended.
    void Forget();

    // For a scan: column `column` of its lines holds the image FIFO block of each line, in
    // the ring buffer at `ring64` or `ring32`. The blocks of the lines handed to the client
    // are remembered, so that they can be freed when the client goes without freeing them.
    void TrackImages(size_t column, void* ring64, void* ring32);
    // Frees every remembered block still in use; only once the measurement has stopped, when
    // no block can have been handed out again.
    void ReleaseDeliveredImages();
    // For a scandata request: its axes, which the host remembers once it succeeds.
    void SetScandataAxes(std::vector<std::string> axes);
    const std::vector<std::string>* ScandataAxes() const;

    // The channel's text so far; with `final` also the deferred events and the ready line.
    std::string TakeReply(bool final);

    ClientId Client() const { return client; }
    int Tid() const { return tid; }
    Kind GetKind() const { return kind; }
    const std::string& PreviewName() const { return previewName; }
    MOutputChannel& Channel() { return *channel; }
    bool IsMeasurement() const { return kind == Kind::Scan || kind == Kind::Scanpoint; }

private:
    bool PollCommand(size_t maxLines, bool& more);

    ClientId client;
    int tid;
    Kind kind = Kind::Immediate;
    std::unique_ptr<MOutputChannel> channel; // before `command`: destroyed after it
    std::unique_ptr<MMachCommand> command;
    std::string previewName;
    size_t imageColumn = SIZE_MAX;
    void* imageRing64 = nullptr;
    void* imageRing32 = nullptr;
    std::vector<uint64_t> deliveredImages;
    bool isScandata = false;
    std::vector<std::string> scandataAxes;
};
