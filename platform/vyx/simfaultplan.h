#pragma once
// The faults a simulated camera is told to have, by exposure number.

#include "platform/vyx/simcontrol.h"

#include <cstdint>
#include <string>
#include <vector>

namespace Vyx::sim {

struct FaultRule {
    SimFault fault = SimFault::Drop;
    uint64_t first = 1;   // first exposure hit
    uint64_t last = 1;    // last exposure hit (inclusive)
    uint64_t every = 0;   // > 0: hits first, first + every, ... up to last
    uint32_t stallMs = 0; // SimFault::Stall only
};

class SimFaultPlan {
public:
    enum class Outcome { Deliver, Drop, Broken, CounterZero };

    void Add(const FaultRule& rule) { m_rules.push_back(rule); }
    void Clear() { m_rules.clear(); }

    // What happens to an exposure; a drop wins over a broken frame, which wins
    // over counter 0.
    Outcome Decide(uint64_t exposure) const;
    // Milliseconds without frames before the exposure (0: none).
    uint32_t StallBefore(uint64_t exposure) const;

    // Parses one configuration value: a list of exposure numbers and ranges
    // ("5, 9-11") for Drop, Broken and CounterZero, or of "exposure:milliseconds"
    // pairs for Stall.
    static bool ParseList(SimFault fault, const std::string& text, std::vector<FaultRule>& rules,
                          std::string& error);

private:
    static bool Hits(const FaultRule& rule, uint64_t exposure);
    std::vector<FaultRule> m_rules;
};

} // namespace Vyx::sim
