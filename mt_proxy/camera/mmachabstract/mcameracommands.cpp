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
