#pragma once
// The camera machine's measuring commands. A "scan" is a timed camera measurement: one image
// and one measurand line per frame over a span of the "time" axis, handed to the server line
// by line through ReadNextLine; "scanpoint" takes one image; "scandata" chooses the axes a
// line carries (and whether images are kept at all, through "imageindex").

#include "lintel/server/machine/mmachscancommands.h"

#include <string>
#include <vector>

class MCameraMachAbstract;

class MCameraScandataCommand : public MMachScandataCommand {
public:
    MCameraScandataCommand(MOutputChannel* out, const std::vector<std::string>& axes,
                           MCameraMachAbstract* machine)
        : MMachScandataCommand(out, axes), machine(machine) {}
    // Sets the machine's scandata axes; an unknown name gives error 4 and ends the list there.
    bool IsDone() override;
    void Abort() override {}

private:
    MCameraMachAbstract* machine;
    bool done = false;
};

class MCameraScanCommand : public MMachScanCommand {
public:
    MCameraScanCommand(MOutputChannel* out, const MMachScanRequest& request,
                       MCameraMachAbstract* machine)
        : MMachScanCommand(out, request), machine(machine) {}
    ~MCameraScanCommand() override;
    // Starts the measurement at the first poll; done once it ended and every line was read.
    bool IsDone() override;
    // Stops the measurement, drops the lines not yet read and frees their images.
    void Abort() override;
    // "measurement begin" goes out before the first line, whichever call sees it first.
    bool ReadNextLine(std::vector<double>& values) override;

private:
    bool start();
    // The machine's measurement is still the one this command started.
    bool owns_measurement() const;

    bool started = false;
    bool done = false;
    bool measurementBeginSent = false;
    MCameraMachAbstract* machine;
    uint64_t measurementNumber = 0;
};

class MCameraScanpointCommand : public MMachScanpointCommand {
public:
    MCameraScanpointCommand(MOutputChannel* out, const MMachScanRequest& request,
                            MCameraMachAbstract* machine)
        : MMachScanpointCommand(out, request), machine(machine) {}
    ~MCameraScanpointCommand() override;
    // One image before the end time, or error 42.
    bool IsDone() override;
    // Stops the measurement and drops its line if the server has not taken it.
    void Abort() override;
    bool ReadNextLine(std::vector<double>& values) override;

private:
    bool start();
    bool owns_measurement() const;

    MCameraMachAbstract* machine;
    bool done = false;
    bool started = false;
    bool stopped = false; // by Abort
    double endTime = 0.0;
    uint64_t measurementNumber = 0;
};
