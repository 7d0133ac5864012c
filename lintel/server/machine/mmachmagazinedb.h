#pragma once
// Probe magazine of a machine with a probe changer: numbered slots per probesystem, each
// holding at most one probe, with the programs that load, unload and change probes. Every
// question is asked about the machine's active probesystem unless a name is given.
//
// Only the queries the machine interface passes on are here so far; the magazine file and
// its changes come with the magazine database itself. Until then a magazine is empty.

#include <cstdint>
#include <map>
#include <string>

struct MMachMagazineSlot {
    uint32_t probe = 0; // 0: the slot is empty
    std::string unloadProgram;
    std::string loadProgram;
    std::map<uint32_t, std::string> changePrograms; // by target slot
};

class MMachMagazineDB {
public:
    // First slot (ascending) holding the probe; 0 when none does.
    uint32_t GetSlotOfProbe(uint32_t probe) const;
    // The slot's record, null when the slot does not exist.
    const MMachMagazineSlot* FindSlot(uint32_t slot) const;
    bool SetSlot(uint32_t slot, uint32_t probe);
    // The slot's programs without enclosing quotes; empty when the slot does not exist.
    std::string GetLoadProgram(uint32_t slot) const;
    std::string GetUnloadProgram(uint32_t slot) const;
    std::string GetChangeProgram(uint32_t fromSlot, uint32_t toSlot) const;
    // Slot number to probe number; an empty name with id 0 selects the active probesystem.
    std::map<uint32_t, uint32_t> GetSlots(const std::string& name, uint32_t id) const;
};
