#pragma once
// The reply lines of one protocol transaction.
//
// The server makes one channel per transaction (plus one per machine for asynchronous
// messages), hands it to factories and commands, and takes the collected text out when it
// sends the reply. Every line ends with "\r\n". Error, warning and data lines carry the
// transaction prefix ("%.4d\t"); event lines always begin with "0000\t".
//
// "capabilities changed" (event 1) and "machine changed" (event 8) are deferred: however
// often they are emitted, a reply carries each at most once, at its end.
//
// Not locked: a channel is used by one thread at a time. The order of the virtual
// operations is part of the contract with the server.

#include <cstdint>
#include <string>
#include <vector>

class MOutputChannel {
public:
    explicit MOutputChannel(int32_t transaction);

    // Appends the deferred event lines; text still left over is reported to the error log.
    virtual ~MOutputChannel();

    // Appends the other channel's text; ORs its flags and event bits into this channel's.
    virtual void Append(const MOutputChannel& other);
    // target.Append(*this), then Clear().
    virtual void MoveTo(MOutputChannel& target);

    virtual void Error(int32_t code);
    virtual void Error(const std::string& text);
    virtual void Warning(int32_t code);
    virtual void Warning(const std::string& text);
    // prefix "data" followed by each number, formatted as AppendNumber does.
    virtual void Data(const std::vector<double>& values);
    virtual void Data(const std::string& text);
    virtual void Event(const std::string& text);
    virtual void Event(int32_t number);

    // Forgets text, event bits, deferred events and the error flag; the mark stays.
    virtual void Clear();
    // Hands the text to `out` (after the deferred event lines when `appendPending`), empties
    // it and clears the event bits; the error flag stays. True when `out` is not empty.
    virtual bool Take(std::string& out, bool appendPending);
    virtual bool IsEmpty() const;
    virtual bool HasError() const;
    virtual void ResetError();
    virtual void SetMark();
    virtual bool IsMarked() const;
    // Whether event `number` (0..96) was emitted; false for any other number.
    virtual bool IsEventSet(int32_t number) const;
    virtual bool HasEvents() const;
    // The text followed by the deferred event lines; the channel is not changed.
    virtual std::string GetText() const;

    MOutputChannel(const MOutputChannel&) = delete;
    MOutputChannel& operator=(const MOutputChannel&) = delete;

    // Appends one number of a data line, with its leading space: " 0" for 0, up to six
    // rounded decimals inside the 32-bit integer range, "%.6f" below 1e11, else "%.17g".
    static void AppendNumber(std::string& out, double value);

private:
    // Sets the bit of an event number; numbers outside 0..96 set bit 97 (and are traced).
    void set_event_bit(int32_t number);
    void append_pending_events(std::string& out) const;
    void append_line(const std::string& head, const std::string& body);

    static constexpr int32_t kUnknownEventBit = 97;

    std::string text;
    std::string prefix;
    bool hasError = false;
    bool mark = false;
    bool pendingCapabilitiesChanged = false;
    bool pendingMachineChanged = false;
    uint64_t events[2] = {0, 0}; // 98 bits: 0..96 by number, 97 for unknown events
};
