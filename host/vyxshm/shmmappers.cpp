#include "host/vyxshm/shmmappers.h"

void ShmMappers::Scan() {
    mappers.clear();
    unreadable = 0;
    note.clear();
    known = vyxshm_os::ScanMappers(mappers, unreadable, note);
}

std::vector<ShmMapper> ShmMappers::Of(const vyxshm_os::SegmentId& id) const {
    std::vector<ShmMapper> list;
    auto found = mappers.find(id);
    if (found != mappers.end())
        for (const auto& [pid, command] : found->second)
            list.push_back({pid, command});
    return list;
}

std::string ShmMappers::Text(const vyxshm_os::SegmentId& id) const {
    if (!known)
        return "unknown";
    const std::vector<ShmMapper> list = Of(id);
    if (list.empty())
        return "none";
    std::string text;
    for (const ShmMapper& mapper : list) {
        if (!text.empty())
            text += ',';
        text.append(std::to_string(mapper.pid)).append("/").append(mapper.command);
    }
    return text;
}
