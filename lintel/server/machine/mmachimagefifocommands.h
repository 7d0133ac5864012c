#pragma once
// The image FIFO commands "imagefifo create", "imagefifo delete", "imagefifo reset" and
// "imagefifo select".
//
// Create, delete and reset are the framework's own commands: they do all their work in their
// first IsDone, against the machine's image FIFO map, and report a failure as one error line.
// Select carries only the name: the machine switches the active FIFO in its factory.

#include "lintel/server/machine/mmachcommand.h"

#include <cstdint>
#include <string>

class MMachAbstract;

class MMachImagefifoCreateCommand : public MMachCommand {
public:
    static constexpr const char* ClassName = "MMachImagefifoCreateCommand";

    // `always64` asks for the 64-bit ring buffer even when the size would allow the 32-bit one.
    MMachImagefifoCreateCommand(MOutputChannel* out, MMachAbstract* machine,
                                const std::string& name, uint64_t size, bool always64)
        : MMachCommand(out), machine(machine), name(name), size(size), always64(always64) {}
    bool IsDone() override;
    void Abort() override;
    const char* GetName() const override;

protected:
    bool done = false;
    MMachAbstract* machine;
    std::string name;
    uint64_t size; // of the segment, which the command makes new (replacing a FIFO of that name)
    bool always64;
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
