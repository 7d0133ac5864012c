#pragma once
// Probe magazine of a machine with a probe changer: numbered slots per probesystem, each
// holding at most one probe, with the programs that load a probe from its slot, unload it
// into its slot, or change from one slot to another.
//
// The magazine lives in one INI file. Every slot is a section named after its probesystem
// and slot number, "<name>_<id>_slot<slot>" (name cut to 90 characters), with the entries
//   probe=<probe number, 0 or missing for an empty slot>
//   load.program=<text, optionally in double quotes>          (required)
//   unload.program=<text, optionally in double quotes>        (required)
//   change_to_<slot>.program=<text>                           (optional, one per target)
// A section "HISTORY" is ignored. Probesystem names may contain underscores; the name is
// everything before the second-to-last underscore. A damaged section (a name that does not
// split, an unknown probesystem, a slot given twice, a missing program) is skipped with an
// error-log block that names it; the other slots stay usable.
//
// Questions without a probesystem are asked about the machine's active probesystem. Every
// change is saved at once; when a change fails, memory is rebuilt from the file, so both
// agree again. Queries never report; changes add their failure lines to the error trace.
//
// Not locked: the machine reaches it only from the server's command thread.

#include "msl/mutil/minidata.h"

#include <cstdint>
#include <map>
#include <string>

class MMachAbstract;

struct MMachMagazineSlot {
    uint32_t probe = 0; // 0: the slot is empty
    std::string unloadProgram;
    std::string loadProgram;
    std::map<uint32_t, std::string> changePrograms; // by target slot, as written
    // The section the slot was read from, where changes to it are written: "Optic_02_slot3"
    // names slot 3 as well as "Optic_2_slot3" does.
    std::string section;
};

class MMachMagazineDB {
public:
    // `machine` tells the active probesystem and which probesystems exist; it must outlive
    // the magazine. Nothing is read before Open.
    MMachMagazineDB(const std::string& path, MMachAbstract& machine);

    // Reads the file (a missing file is an empty magazine). False, with no slot known, when
    // the file cannot be read; damaged sections are skipped (see above).
    bool Open();
    // Replaces the whole file with the given INI text, which must describe a valid magazine
    // (no section is skipped). On failure the file is untouched and memory is read back
    // from it.
    bool Send(const std::string& content);

    // Puts a probe into a slot (0 empties it) and saves.
    bool SetSlot(uint32_t slot, uint32_t probe);
    // First slot (ascending) holding the probe; 0 when none does. Probe 0 finds the first
    // empty slot.
    uint32_t GetSlotOfProbe(uint32_t probe) const;
    // The slot's record, null when the slot does not exist.
    const MMachMagazineSlot* FindSlot(uint32_t slot) const;
    // The slot's programs without enclosing double quotes; empty when the slot does not
    // exist.
    std::string GetLoadProgram(uint32_t slot) const;
    std::string GetUnloadProgram(uint32_t slot) const;
    // The from-slot's own change program for the to-slot, or else the from-slot's unload
    // program, ";" and the to-slot's load program; empty when a slot it needs is missing.
    std::string GetChangeProgram(uint32_t fromSlot, uint32_t toSlot) const;
    // Slot number to probe number of a probesystem; an empty name with id 0 selects the
    // active one. Empty for an unknown probesystem.
    std::map<uint32_t, uint32_t> GetSlots(const std::string& name, uint32_t id) const;

    // Empties the first slot holding the probe and saves. 1 on success, also when no slot
    // holds it; 0 on failure.
    int DeleteProbe(uint32_t probe);
    // Removes every slot of the probesystem and saves. 1 on success, also for an unknown
    // probesystem; 0 on failure.
    int DeleteProbesystem(const std::string& name, uint32_t id);

    // Splits a slot section name "<name>_<id>_slot<slot>" at its last two underscores; the
    // rest is read as the C library's scan of "%u_slot%u" reads it (blanks, a sign and
    // leading zeros before a number are accepted, text after the slot number is not looked at).
    static bool split_section_name(const std::string& section, std::string& name, uint32_t& id,
                                   uint32_t& slot);

    MMachMagazineDB(const MMachMagazineDB&) = delete;
    MMachMagazineDB& operator=(const MMachMagazineDB&) = delete;

private:
    using SlotMap = std::map<uint32_t, MMachMagazineSlot>;

    // "<name cut to 100>_<id>": the key of a probesystem's slots.
    static std::string probesystem_key(const std::string& name, uint32_t id);
    // Rebuilds `probesystems` from `inidata`, skipping damaged sections; false when any was
    // skipped.
    bool analyse_inifile();
    // Reads one slot section into `probesystems`; false, with the cause in the error trace,
    // when it is damaged.
    bool analyse_section(const std::string& section);
    // Brings memory back to the file after a failed change; failures are only reported.
    void resync_inifile();
    std::string active_key() const;
    const SlotMap* find_slots(const std::string& key) const;

    std::string path;
    MIniData inidata;
    MMachAbstract* machine; // not owned
    std::map<std::string, SlotMap> probesystems;
};
