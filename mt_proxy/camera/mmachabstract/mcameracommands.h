#pragma once
// The camera machine's command objects for axes, components, probes, probesystems and the
// image FIFO selection. The machine's factory does the whole work of each of these commands,
// so all but "get" are done at their first poll and have nothing to abort; "get" reads its
// axis values when it is first polled. The scan commands live in mcamerascancommands.h.

#include "lintel/server/machine/mmachaxiscommands.h"
#include "lintel/server/machine/mmachimagefifocommands.h"
#include "lintel/server/machine/mmachprobecommands.h"

#include <string>
#include <vector>

class MCameraMachAbstract;

// A command whose work its factory has already done.
template <class Base> class MCameraDoneCommand : public Base {
public:
    using Base::Base;
    bool IsDone() override { return true; }
    void Abort() override {}
};

using MCameraInitCommand = MCameraDoneCommand<MMachInitCommand>;
using MCameraSetCommand = MCameraDoneCommand<MMachSetCommand>;
using MCameraSendCommand = MCameraDoneCommand<MMachSendCommand>;
using MCameraProbeDefineCommand = MCameraDoneCommand<MMachProbeDefineCommand>;
using MCameraProbeDeleteCommand = MCameraDoneCommand<MMachProbeDeleteCommand>;
using MCameraProbeLoadCommand = MCameraDoneCommand<MMachProbeLoadCommand>;
using MCameraProbeChangeCommand = MCameraDoneCommand<MMachProbeChangeCommand>;
using MCameraProbeUnloadCommand = MCameraDoneCommand<MMachProbeUnloadCommand>;
using MCameraProbesystemDefineCommand = MCameraDoneCommand<MMachProbesystemDefineCommand>;
using MCameraProbesystemDeleteCommand = MCameraDoneCommand<MMachProbesystemDeleteCommand>;
using MCameraProbesystemLoadCommand = MCameraDoneCommand<MMachProbesystemLoadCommand>;
using MCameraProbesystemUnloadCommand = MCameraDoneCommand<MMachProbesystemUnloadCommand>;
using MCameraImagefifoSelectCommand = MCameraDoneCommand<MMachImagefifoSelectCommand>;

// "imagefifo create", "delete" and "reset" of a FIFO that a measurement writes into are
// refused with error 19, and "create" and "reset" of one whose blocks readers still hold
// with error 18 (the FIFO stays as it is); otherwise they do the framework's work. "delete"
// deselects the FIFO only when it goes.
class MCameraImagefifoCreateCommand : public MMachImagefifoCreateCommand {
public:
    MCameraImagefifoCreateCommand(MOutputChannel* out, MCameraMachAbstract* machine,
                                  const std::string& name, uint64_t size, bool always64);
    bool IsDone() override;

private:
    MCameraMachAbstract* camera;
};

class MCameraImagefifoDeleteCommand : public MMachImagefifoDeleteCommand {
public:
    MCameraImagefifoDeleteCommand(MOutputChannel* out, MCameraMachAbstract* machine,
                                  const std::string& name);
    bool IsDone() override;

private:
    MCameraMachAbstract* camera;
};

class MCameraImagefifoResetCommand : public MMachImagefifoResetCommand {
public:
    MCameraImagefifoResetCommand(MOutputChannel* out, MCameraMachAbstract* machine);
    bool IsDone() override;

private:
    MCameraMachAbstract* camera;
};

// "get": the values of the requested axes at the first poll, NaN for unknown names.
class MCameraGetCommand : public MMachGetCommand {
public:
    // `machine` outlives the command (the server deletes commands before the machine).
    MCameraGetCommand(MOutputChannel* out, const std::vector<std::string>& axes,
                      MCameraMachAbstract* machine)
        : MMachGetCommand(out, axes), machine(machine) {}
    bool IsDone() override;
    void Abort() override {}

private:
    MCameraMachAbstract* machine;
    bool done = false;
};

// "receive": the factory has read the component's data.
class MCameraReceiveCommand : public MMachReceiveCommand {
public:
    MCameraReceiveCommand(MOutputChannel* out, const std::string& component,
                          const std::string& result)
        : MMachReceiveCommand(out, component) {
        data = result;
    }
    bool IsDone() override { return true; }
    void Abort() override {}
};
