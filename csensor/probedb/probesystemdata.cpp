#include "csensor/probedb/probesystemdata.h"

#include "platform/trace/merrtrace.h"

bool ProbesystemData::DefineId(const ProbesystemRecord& record) {
    ProbesystemGeometry geometry;
    geometry.x = record.x;
    geometry.y = record.y;
    geometry.z = record.z;
    geometry.alpha = record.alpha;
    geometry.beta = record.beta;
    geometry.gamma = record.gamma;
    if (!ids.emplace(record.id, geometry).second) {
        MERRTRACE("ProbesystemData::DefineId(): id %u already defined", record.id);
        return false;
    }
    return true;
}

bool ProbesystemData::DeleteId(uint32_t id) {
    if (ids.erase(id) == 0) {
        MERRTRACE("ProbesystemData::DeleteId(): no id %u", id);
        return false;
    }
    return true;
}
