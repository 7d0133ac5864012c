#pragma once
// Commands on axes and components: "get", "init", "set", "send", "receive".
//
// Each class holds the command's arguments (and, for "get" and "receive", the result the
// server reads once the command is done) and names its keyword; a machine derives its own
// implementations of IsDone and Abort.

#include "lintel/server/machine/mmachcommand.h"

#include <map>
#include <set>
#include <string>
#include <vector>

class MMachGetCommand : public MMachCommand {
public:
    static constexpr const char* ClassName = "MMachGetCommand";

    MMachGetCommand(MOutputChannel* out, const std::vector<std::string>& axes)
        : MMachCommand(out), axes(axes) {}
    const char* GetName() const override;

    const std::vector<std::string>& GetAxes() const { return axes; }
    // One value per requested axis, in request order; empty until the command is done.
    const std::vector<double>& GetValues() const { return values; }

protected:
    std::vector<std::string> axes;
    std::vector<double> values;
};

class MMachInitCommand : public MMachCommand {
public:
    static constexpr const char* ClassName = "MMachInitCommand";

    MMachInitCommand(MOutputChannel* out, const std::set<std::string>& axes)
        : MMachCommand(out), axes(axes) {}
    const char* GetName() const override;

    const std::set<std::string>& GetAxes() const { return axes; }

protected:
    std::set<std::string> axes;
};

class MMachSetCommand : public MMachCommand {
public:
    static constexpr const char* ClassName = "MMachSetCommand";

    MMachSetCommand(MOutputChannel* out, const std::map<std::string, double>& values)
        : MMachCommand(out), values(values) {}
    const char* GetName() const override;

    const std::map<std::string, double>& GetValues() const { return values; }

protected:
    std::map<std::string, double> values;
};

class MMachSendCommand : public MMachCommand {
public:
    static constexpr const char* ClassName = "MMachSendCommand";

    MMachSendCommand(MOutputChannel* out, const std::string& component, const std::string& data)
        : MMachCommand(out), component(component), data(data) {}
    const char* GetName() const override;

    const std::string& GetComponent() const { return component; }
    const std::string& GetData() const { return data; }

protected:
    std::string component;
    std::string data;
};

class MMachReceiveCommand : public MMachCommand {
public:
    static constexpr const char* ClassName = "MMachReceiveCommand";

    MMachReceiveCommand(MOutputChannel* out, const std::string& component)
        : MMachCommand(out), component(component) {}
    const char* GetName() const override;

    const std::string& GetComponent() const { return component; }
    // The component's data: the command's result.
    const std::string& GetData() const { return data; }

protected:
    std::string component;
    std::string data;
};
