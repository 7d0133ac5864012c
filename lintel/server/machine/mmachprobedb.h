#pragma once
// What the machine asks of a probe database: probes, their tips and the active selection.
// Probe and tip number 0 mean "none" in the active selection and "any" in ListProbes and
// DeleteProbe. The slot order is fixed.

#include <cstdint>
#include <vector>

struct ProbeTipRecord {
    uint32_t probe = 0;
    uint32_t tip = 0;
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
    double d = 0.0;
};

class MMachProbeDB {
public:
    virtual ~MMachProbeDB() = default;

    virtual uint32_t GetMaxProbeNumber() = 0;
    virtual uint32_t GetMaxTipNumber() = 0;
    virtual uint32_t GetActiveProbe() = 0;
    virtual uint32_t GetActiveTip() = 0;
    virtual bool SetActiveProbe(uint32_t probe, uint32_t tip) = 0;
    // True when the probe has at least one tip.
    virtual bool IsProbeDefined(uint32_t probe) = 0;
    virtual bool IsTipDefined(uint32_t probe, uint32_t tip) = 0;
    // In ascending probe, then tip order; 0 matches any.
    virtual std::vector<ProbeTipRecord> ListProbes(uint32_t probe, uint32_t tip) = 0;
    virtual bool DefineProbe(const ProbeTipRecord& record) = 0;
    virtual bool DeleteProbe(uint32_t probe, uint32_t tip) = 0;
};
