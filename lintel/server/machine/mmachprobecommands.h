#pragma once
// The probe and probesystem commands. They carry no arguments of their own: a machine does
// the whole work in its factory and returns a command that is done at once.

#include "lintel/server/machine/mmachcommand.h"

class MMachProbeDefineCommand : public MMachCommand {
public:
    static constexpr const char* ClassName = "MMachProbeDefineCommand";

    explicit MMachProbeDefineCommand(MOutputChannel* out) : MMachCommand(out) {}
    const char* GetName() const override;
};

class MMachProbeDeleteCommand : public MMachCommand {
public:
    static constexpr const char* ClassName = "MMachProbeDeleteCommand";

    explicit MMachProbeDeleteCommand(MOutputChannel* out) : MMachCommand(out) {}
    const char* GetName() const override;
};

class MMachProbeLoadCommand : public MMachCommand {
public:
    static constexpr const char* ClassName = "MMachProbeLoadCommand";

    explicit MMachProbeLoadCommand(MOutputChannel* out) : MMachCommand(out) {}
    const char* GetName() const override;
};

class MMachProbeChangeCommand : public MMachCommand {
public:
    static constexpr const char* ClassName = "MMachProbeChangeCommand";

    explicit MMachProbeChangeCommand(MOutputChannel* out) : MMachCommand(out) {}
    const char* GetName() const override;
};

class MMachProbeUnloadCommand : public MMachCommand {
public:
    static constexpr const char* ClassName = "MMachProbeUnloadCommand";

    explicit MMachProbeUnloadCommand(MOutputChannel* out) : MMachCommand(out) {}
    const char* GetName() const override;
};

class MMachProbesystemDefineCommand : public MMachCommand {
public:
    static constexpr const char* ClassName = "MMachProbesystemDefineCommand";

    explicit MMachProbesystemDefineCommand(MOutputChannel* out) : MMachCommand(out) {}
    const char* GetName() const override;
};

class MMachProbesystemDeleteCommand : public MMachCommand {
public:
    static constexpr const char* ClassName = "MMachProbesystemDeleteCommand";

    explicit MMachProbesystemDeleteCommand(MOutputChannel* out) : MMachCommand(out) {}
    const char* GetName() const override;
};

class MMachProbesystemLoadCommand : public MMachCommand {
public:
    static constexpr const char* ClassName = "MMachProbesystemLoadCommand";

    explicit MMachProbesystemLoadCommand(MOutputChannel* out) : MMachCommand(out) {}
    const char* GetName() const override;
};

class MMachProbesystemUnloadCommand : public MMachCommand {
public:
    static constexpr const char* ClassName = "MMachProbesystemUnloadCommand";

    explicit MMachProbesystemUnloadCommand(MOutputChannel* out) : MMachCommand(out) {}
    const char* GetName() const override;
};
