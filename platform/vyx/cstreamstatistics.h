#pragma once
// What the network stream of the camera did in its current or last acquisition, for tools
// that compare the camera library with the camera maker's own (packets resent, missing). Only
// a GigE Vision camera has such a stream.

#include "platform/vyx/vyxapi.h"

#include <cstdint>
#include <string>

namespace Vyx {

struct VYX_API CStreamStatistics {
    uint64_t receivedPackets = 0;
    uint64_t missingPackets = 0; // not received, also after asking again
    uint64_t resentPackets = 0;  // received after asking the camera again
    // How the stream was set up, as the stream reports it: packet size, socket buffer,
    // packet socket and resending.
    std::string setup;
    // Where the camera sends its stream and where it sits.
    std::string interfaceAddress, cameraAddress;

    // Fills statistics for the open GenICam camera; false with the reason when the camera is
    // another one or has no network stream, or no acquisition ran since it opened.
    static bool Read(CStreamStatistics* statistics, std::string* why);
};

} // namespace Vyx
