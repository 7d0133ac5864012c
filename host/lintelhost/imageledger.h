#pragma once
// Who was last handed each image FIFO block, so that the blocks of a client that goes are
// released: it cannot release them any more, and a full FIFO would fail the next scan.
//
// A client may have released a block itself, after which the camera may have taken it again
// for a new image. Such a block is safe from this ledger once a later line named it (that
// line's client is then its holder), but while the measurement runs, the line that names it
// may not have been read yet. So the blocks of a gone client are released only while no
// measurement runs: then every block in use was named by a line the host has read (a scan ends
// only after its last line was taken, an aborted one frees what its unread lines named), and a
// block last named to the gone client and still in use is one it did not release.

#include "host/lintelhost/hostinbox.h"

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <unordered_map>

class MMachAbstract;

class ImageLedger {
public:
    // A line handed block `block` of FIFO `fifo` to `client`.
    void Named(const std::string& fifo, uint64_t block, ClientId client);
    // The client is gone; its blocks are released by the next Settle without a measurement.
    void Gone(ClientId client);
    // Releases the blocks of gone clients that are still in use, unless a measurement runs.
    // The number released.
    size_t Settle(MMachAbstract& machine, bool measurementRuns);

private:
    std::map<std::string, std::unordered_map<uint64_t, ClientId>> holders; // by FIFO, by block
    std::set<ClientId> gone;
};
