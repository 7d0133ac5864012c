#include "lintel/server/machine/mmachmagazinedb.h"

// An empty magazine: no slot exists, so every query answers "none" and no slot can be set.

uint32_t MMachMagazineDB::GetSlotOfProbe(uint32_t) const {
    return 0;
}

const MMachMagazineSlot* MMachMagazineDB::FindSlot(uint32_t) const {
    return nullptr;
}

bool MMachMagazineDB::SetSlot(uint32_t, uint32_t) {
    return false;
}

std::string MMachMagazineDB::GetLoadProgram(uint32_t) const {
    return std::string();
}

std::string MMachMagazineDB::GetUnloadProgram(uint32_t) const {
    return std::string();
}

std::string MMachMagazineDB::GetChangeProgram(uint32_t, uint32_t) const {
    return std::string();
}

std::map<uint32_t, uint32_t> MMachMagazineDB::GetSlots(const std::string&, uint32_t) const {
    return {};
}
