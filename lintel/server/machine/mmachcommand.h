#pragma once
// Base of every command object.
//
// A machine's factory creates a command for one protocol command with the transaction's
// output channel; the server polls IsDone until it answers true (and may call it again
// afterwards: the command then repeats no work), may call Abort before that, and deletes
// the command through the virtual destructor. Failures are error lines in the channel; the
// command still reports done.

class MOutputChannel;

class MMachCommand {
public:
    // `out` belongs to the server, which keeps it alive at least as long as the command.
    explicit MMachCommand(MOutputChannel* out) : out(out) {}
    virtual ~MMachCommand();

    virtual bool IsDone() = 0;
    virtual void Abort() = 0;
    // The protocol keyword ("get", "probe define", ...), also used in diagnostics.
    virtual const char* GetName() const = 0;

    MOutputChannel* GetOutputChannel() const { return out; }

    MMachCommand(const MMachCommand&) = delete;
    MMachCommand& operator=(const MMachCommand&) = delete;

protected:
    MOutputChannel* out;
};
