#include "host/lintelhost/hostnotifier.h"

int32_t HostNotifier::GetState() {
    return 1;
}

void HostNotifier::WakeUp() {
    inbox.WakeUp();
}
