#pragma once
// The fake machine's command objects.

#include "lintel/server/machine/mmachabstract.h"
#include "tests/host/fakemachine/fakescan.h"

#include <memory>

class FakeMachine;

// Done at once: the factory did the work.
template <class Base> class FakeDone : public Base {
public:
    using Base::Base;
    bool IsDone() override { return true; }
    void Abort() override {}
};

class FakeGetCommand : public MMachGetCommand {
public:
    FakeGetCommand(MOutputChannel* out, const std::vector<std::string>& axes, FakeMachine& machine)
        : MMachGetCommand(out, axes), machine(machine) {}
    bool IsDone() override;
    void Abort() override {}

private:
    FakeMachine& machine;
};

class FakeReceiveCommand : public MMachReceiveCommand {
public:
    FakeReceiveCommand(MOutputChannel* out, const std::string& component, const std::string& text)
        : MMachReceiveCommand(out, component) {
        data = text;
    }
    bool IsDone() override { return true; }
    void Abort() override {}
};

class FakeScandataCommand : public MMachScandataCommand {
public:
    FakeScandataCommand(MOutputChannel* out, const std::vector<std::string>& axes,
                        FakeMachine& machine)
        : MMachScandataCommand(out, axes), machine(machine) {}
    bool IsDone() override;
    void Abort() override {}

private:
    FakeMachine& machine;
};

// Scan and scanpoint: start at the first poll, "measurement begin" with the first line, done
// once every line is taken; an abort releases the images of the lines left.
template <class Base> class FakeMeasuring : public Base {
public:
    // `fixedFrames` 0: as many frames as the time span holds; else exactly that many.
    FakeMeasuring(MOutputChannel* out, const MMachScanRequest& request, FakeMachine& machine,
                  uint64_t fixedFrames)
        : Base(out, request), machine(machine), fixedFrames(fixedFrames) {}
    ~FakeMeasuring() override { Abort(); }
    bool IsDone() override;
    void Abort() override;
    bool ReadNextLine(std::vector<double>& values) override;

private:
    FakeMachine& machine;
    uint64_t fixedFrames;
    std::unique_ptr<FakeScan> scan;
    bool started = false;
    bool beginSent = false;
    bool done = false;
};

using FakeScanCommand = FakeMeasuring<MMachScanCommand>;
using FakeScanpointCommand = FakeMeasuring<MMachScanpointCommand>;

class FakeImagefifoCreateCommand : public MMachImagefifoCreateCommand {
public:
    using MMachImagefifoCreateCommand::MMachImagefifoCreateCommand;
    bool IsDone() override;
};

class FakeImagefifoDeleteCommand : public MMachImagefifoDeleteCommand {
public:
    using MMachImagefifoDeleteCommand::MMachImagefifoDeleteCommand;
    bool IsDone() override;
};

class FakeImagefifoResetCommand : public MMachImagefifoResetCommand {
public:
    using MMachImagefifoResetCommand::MMachImagefifoResetCommand;
    bool IsDone() override;
};
