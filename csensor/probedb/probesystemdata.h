#pragma once
// The defined ids of one probesystem name with their mounting geometry.

#include "lintel/server/machine/mmachprobesystemdb.h"

#include <cstdint>
#include <map>

struct ProbesystemGeometry {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
    double alpha = 0.0;
    double beta = 0.0;
    double gamma = 0.0;
};

class ProbesystemData {
public:
    using IdMap = std::map<uint32_t, ProbesystemGeometry>;

    // Adds the record's id with its geometry (the name is the caller's key); false when the
    // id exists.
    bool DefineId(const ProbesystemRecord& record);
    // False when the id does not exist.
    bool DeleteId(uint32_t id);

    bool HasId(uint32_t id) const { return ids.count(id) != 0; }
    bool IsEmpty() const { return ids.empty(); }
    // In ascending id order.
    const IdMap& Ids() const { return ids; }

private:
    IdMap ids;
};
