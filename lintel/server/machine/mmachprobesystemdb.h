#pragma once
// What the machine asks of a probesystem database: the defined probesystems, their types
// and the active one. An empty name with id 0 means "none". The slot order is fixed.

#include <cstdint>
#include <string>
#include <vector>

struct ProbesystemRecord {
    std::string name; // the probesystem's type name
    uint32_t id = 0;
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
    double alpha = 0.0;
    double beta = 0.0;
    double gamma = 0.0;
};

class MMachProbesystemDB {
public:
    virtual ~MMachProbesystemDB() = default;

    virtual bool IsProbesystemDefined(const std::string& name) = 0;
    virtual bool IsProbesystemIdDefined(const std::string& name, uint32_t id) = 0;
    // True when the active name is not empty.
    virtual bool HasActiveProbesystem() = 0;
    virtual std::string GetActiveProbesystem() = 0;
    virtual uint32_t GetActiveProbesystemId() = 0;
    virtual bool SetActiveProbesystem(const std::string& name, uint32_t id) = 0;
    virtual bool IsProbesystemTypeDefined(const std::string& type) = 0;
    // Iteration over the type names; null when there is none (left). The text stays valid
    // until the next call or a change of the types.
    virtual const char* FirstProbesystemType() = 0;
    virtual const char* NextProbesystemType() = 0;
    virtual std::vector<ProbesystemRecord> ListProbesystems(const std::string& name,
                                                            uint32_t id) = 0;
    virtual bool DefineProbesystem(const ProbesystemRecord& record) = 0;
    virtual bool DeleteProbesystem(const std::string& name, uint32_t id) = 0;
};
