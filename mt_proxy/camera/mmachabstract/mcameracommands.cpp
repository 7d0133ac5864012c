#include "mt_proxy/camera/mmachabstract/mcameracommands.h"

#include "mt_proxy/camera/mmachabstract/mcameramachabstract.h"

bool MCameraGetCommand::IsDone() {
    if (done)
        return true;
    std::vector<double> read;
    machine->GetAxisValues(axes, read);
    values.swap(read);
    done = true;
    return true;
}

MCameraImagefifoCreateCommand::MCameraImagefifoCreateCommand(MOutputChannel* out,
                                                             MCameraMachAbstract* machine,
                                                             const std::string& name, uint64_t size,
                                                             bool always64)
    : MMachImagefifoCreateCommand(out, machine, name, size, always64), camera(machine) {}

bool MCameraImagefifoCreateCommand::IsDone() {
    if (!done && camera->RefuseFifoChange(name, true, out, GetName()))
        done = true;
    return MMachImagefifoCreateCommand::IsDone();
}

MCameraImagefifoDeleteCommand::MCameraImagefifoDeleteCommand(MOutputChannel* out,
                                                             MCameraMachAbstract* machine,
                                                             const std::string& name)
    : MMachImagefifoDeleteCommand(out, machine, name), camera(machine) {}

bool MCameraImagefifoDeleteCommand::IsDone() {
    if (!done && camera->RefuseFifoChange(name, false, out, GetName()))
        done = true;
    if (!done && camera->GetActiveImageFifo() != nullptr &&
        camera->GetActiveImageFifoName() == name)
        camera->SetActiveImageFifo("");
    return MMachImagefifoDeleteCommand::IsDone();
}

MCameraImagefifoResetCommand::MCameraImagefifoResetCommand(MOutputChannel* out,
                                                           MCameraMachAbstract* machine)
    : MMachImagefifoResetCommand(out, machine), camera(machine) {}

bool MCameraImagefifoResetCommand::IsDone() {
    if (!done && camera->RefuseFifoChange(camera->GetActiveImageFifoName(), true, out, GetName()))
        done = true;
    return MMachImagefifoResetCommand::IsDone();
}
