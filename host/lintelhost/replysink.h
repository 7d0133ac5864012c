#pragma once
// Where the command thread sends what clients are to receive. Implemented by the network side;
// every call may come from any thread and returns at once.

#include "host/lintelhost/hostinbox.h"

#include <string>

class ReplySink {
public:
    virtual ~ReplySink() = default;
    // Queues text for a client; text for a client that is gone is dropped.
    virtual void Send(ClientId client, std::string text) = 0;
    // The command thread served requests of a client whose reading was paused.
    virtual void Served(ClientId client) = 0;
    // Closes a client's connection once what was queued for it is written.
    virtual void Close(ClientId client) = 0;
    // Ends the service: every connection closes after its queued text, then the network
    // thread returns.
    virtual void Stop() = 0;
};
