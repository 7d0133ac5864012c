#include "platform/vyx/simfaultplan.h"

#include <cerrno>
#include <cstdlib>

namespace Vyx::sim {

bool SimFaultPlan::Hits(const FaultRule& rule, uint64_t exposure) {
    if (exposure < rule.first || exposure > rule.last)
        return false;
    return rule.every == 0 || (exposure - rule.first) % rule.every == 0;
}

SimFaultPlan::Outcome SimFaultPlan::Decide(uint64_t exposure) const {
    Outcome outcome = Outcome::Deliver;
    for (const FaultRule& rule : m_rules) {
        if (rule.fault == SimFault::Stall || !Hits(rule, exposure))
            continue;
        if (rule.fault == SimFault::Drop)
            return Outcome::Drop;
        if (rule.fault == SimFault::Broken)
            outcome = Outcome::Broken;
        else if (outcome == Outcome::Deliver)
            outcome = Outcome::CounterZero;
    }
    return outcome;
}

uint32_t SimFaultPlan::StallBefore(uint64_t exposure) const {
    uint32_t total = 0;
    for (const FaultRule& rule : m_rules)
        if (rule.fault == SimFault::Stall && Hits(rule, exposure))
            total += rule.stallMs;
    return total;
}

namespace {

// Reads an unsigned number at text[pos], skipping blanks around it.
bool ReadNumber(const std::string& text, size_t& pos, uint64_t& value) {
    while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t'))
        ++pos;
    if (pos >= text.size() || text[pos] < '0' || text[pos] > '9')
        return false;
    errno = 0;
    char* end = nullptr;
    value = std::strtoull(text.c_str() + pos, &end, 10);
    if (errno != 0)
        return false;
    pos = static_cast<size_t>(end - text.c_str());
    while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t'))
        ++pos;
    return true;
}

} // namespace

bool SimFaultPlan::ParseList(SimFault fault, const std::string& text, std::vector<FaultRule>& rules,
                             std::string& error) {
    size_t pos = 0;
    while (pos < text.size()) {
        FaultRule rule;
        rule.fault = fault;
        uint64_t first = 0;
        if (!ReadNumber(text, pos, first) || first == 0) {
            error = "expected an exposure number (1 or more) at \"" + text.substr(pos) + "\"";
            return false;
        }
        rule.first = rule.last = first;
        if (fault == SimFault::Stall) {
            uint64_t ms = 0;
            if (pos >= text.size() || text[pos] != ':' || !ReadNumber(text, ++pos, ms) || ms == 0 ||
                ms > 600000) {
                error = "expected exposure:milliseconds (1 to 600000 ms) in \"" + text + "\"";
                return false;
            }
            rule.stallMs = static_cast<uint32_t>(ms);
        } else if (pos < text.size() && text[pos] == '-') {
            uint64_t last = 0;
            if (!ReadNumber(text, ++pos, last) || last < first) {
                error = "bad range in \"" + text + "\"";
                return false;
            }
            rule.last = last;
        }
        rules.push_back(rule);
        if (pos < text.size()) {
            if (text[pos] != ',') {
                error = "expected ',' at \"" + text.substr(pos) + "\"";
                return false;
            }
            ++pos;
        }
    }
    return true;
}

} // namespace Vyx::sim
