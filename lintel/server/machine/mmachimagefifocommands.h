#pragma once
// The image FIFO commands "imagefifo create", "imagefifo delete", "imagefifo reset" and
// "imagefifo select".
//
// Create, delete and reset are the framework's own commands: they do all their work in their
// first IsDone, against the machine's image FIFO map, and report a failure as one error line.
// A large create is the exception: reserving its pages takes long enough to hold up every
// other client of the server, so a thread of its own makes the segment while IsDone answers
// false, and a later IsDone finishes on the server's thread. Select carries only the name: the
// machine switches the active FIFO in its factory.

#include "lintel/server/machine/mmachcommand.h"

#include <cstdint>
#include <memory>
#include <string>

class MErrTraceContext;
class MMachAbstract;

class MMachImagefifoCreateCommand : public MMachCommand {
public:
    static constexpr const char* ClassName = "MMachImagefifoCreateCommand";

    // `always64` asks for the 64-bit ring buffer even when the size would allow the 32-bit one.
    MMachImagefifoCreateCommand(MOutputChannel* out, MMachAbstract* machine,
                                const std::string& name, uint64_t size, bool always64);
    ~MMachImagefifoCreateCommand() override;
    bool IsDone() override;
    // Waits for a segment being made and gives it up.
    void Abort() override;
    const char* GetName() const override;

    // FIFOs of this size and larger are made by a thread of their own.
    static constexpr uint64_t kBackgroundSize = 32u << 20;

protected:
    bool done = false;
    MMachAbstract* machine;
    std::string name;
    uint64_t size; // of the segment, which the command makes new (replacing a FIFO of that name)
    bool always64;

private:
    struct Background;
    // The steps after the segment is made, on the server's thread.
    bool Finish(MErrTraceContext& context, void* segment, bool is64);
    std::unique_ptr<Background> background;
    uint64_t slotSize = 0;
    size_t slots = 0;
};

class MMachImagefifoDeleteCommand : public MMachCommand {
public:
    static constexpr const char* ClassName = "MMachImagefifoDeleteCommand";

    MMachImagefifoDeleteCommand(MOutputChannel* out, MMachAbstract* machine,
                                const std::string& name)
        : MMachCommand(out), machine(machine), name(name) {}
    bool IsDone() override;
    void Abort() override;
    const char* GetName() const override;

protected:
    bool done = false;
    MMachAbstract* machine;
    std::string name;
};

class MMachImagefifoResetCommand : public MMachCommand {
public:
    static constexpr const char* ClassName = "MMachImagefifoResetCommand";

    MMachImagefifoResetCommand(MOutputChannel* out, MMachAbstract* machine)
        : MMachCommand(out), machine(machine) {}
    bool IsDone() override;
    void Abort() override;
    const char* GetName() const override;

protected:
    MMachAbstract* machine;
    bool done = false;
};

class MMachImagefifoSelectCommand : public MMachCommand {
public:
    static constexpr const char* ClassName = "MMachImagefifoSelectCommand";

    MMachImagefifoSelectCommand(MOutputChannel* out, const std::string& name)
        : MMachCommand(out), name(name) {}
    const char* GetName() const override;

    const std::string& GetFifoName() const { return name; }

protected:
    std::string name;
};
