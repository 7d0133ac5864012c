#pragma once
// The measuring commands "scan", "scandata" and "scanpoint", and the scan request.

#include "lintel/server/machine/mmachcommand.h"

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

// Target of one axis of a scan.
struct MMachScanTarget {
    double value = 0.0;
    // Non-zero: `value` is a span added to the axis's current value; zero: an absolute target.
    uint8_t relative = 0;
};

// The argument of the scan and scanpoint factories.
struct MMachScanRequest {
    std::map<std::string, MMachScanTarget> axes;
    // The remaining members are the server's; the camera commands do not use them.
    std::set<std::string> names;
    std::string text1;
    std::string text2;
    std::string text3;
    uint8_t flag = 0;
};

class MMachScanCommand : public MMachCommand {
public:
    static constexpr const char* ClassName = "MMachScanCommand";

    MMachScanCommand(MOutputChannel* out, const MMachScanRequest& request)
        : MMachCommand(out), request(request) {}
    const char* GetName() const override;

    // Fills `values` with the reported axes of the next measured line; false when there is
    // no line yet.
    virtual bool ReadNextLine(std::vector<double>& values) = 0;

    const MMachScanRequest& GetRequest() const { return request; }

protected:
    MMachScanRequest request;
};

class MMachScandataCommand : public MMachCommand {
public:
    static constexpr const char* ClassName = "MMachScandataCommand";

    MMachScandataCommand(MOutputChannel* out, const std::vector<std::string>& axes)
        : MMachCommand(out), axes(axes) {}
    const char* GetName() const override;

    // The axis names a reported line carries, in order.
    const std::vector<std::string>& GetAxes() const { return axes; }

protected:
    std::vector<std::string> axes;
};

class MMachScanpointCommand : public MMachCommand {
public:
    static constexpr const char* ClassName = "MMachScanpointCommand";

    MMachScanpointCommand(MOutputChannel* out, const MMachScanRequest& request)
        : MMachCommand(out), request(request) {}
    const char* GetName() const override;

    // As MMachScanCommand::ReadNextLine.
    virtual bool ReadNextLine(std::vector<double>& values) = 0;

    const MMachScanRequest& GetRequest() const { return request; }

protected:
    MMachScanRequest request;
};
