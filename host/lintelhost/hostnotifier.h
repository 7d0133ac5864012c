#pragma once
// The client notifier the machine gets: its wake-ups, from whatever thread, end the command
// thread's wait so that it polls at once.

#include "host/lintelhost/hostinbox.h"
#include "lintel/server/machine/mclientnotifier.h"

class HostNotifier : public MClientNotifier {
public:
    explicit HostNotifier(HostInbox& inbox) : inbox(inbox) {}
    // Non-zero: the host is serving.
    int32_t GetState() override;
    void WakeUp() override;

private:
    HostInbox& inbox;
};
