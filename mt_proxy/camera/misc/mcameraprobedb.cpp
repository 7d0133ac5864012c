#include "mt_proxy/camera/misc/mcameraprobedb.h"

#include "msl/mutil/minidata.h"
#include "platform/trace/merrtrace.h"

namespace {
const char* const kDefine = "MCameraProbeDB::DefineProbe";
} // namespace

MCameraProbeDB::MCameraProbeDB() = default;

MCameraProbeDB::~MCameraProbeDB() = default;

bool MCameraProbeDB::DefineProbe(const ProbeTipRecord& record) {
    if (!MTessorProbeDB::DefineProbe(record)) {
        MERRTRACE("%s(): MTessorProbeDB::DefineProbe() failed", kDefine);
        return false;
    }
    const uint32_t probe = GetActiveProbe();
    const uint32_t tip = GetActiveTip();
    if (!SetActiveProbe(record.probe, record.tip)) {
        MERRTRACE("%s(): SetActiveProbe(%u, %u) failed", kDefine, record.probe, record.tip);
        return false;
    }
    bool ok = add_zoom(record);
    if (!SetActiveProbe(probe, tip)) {
        MERRTRACE("%s(): SetActiveProbe(%u, %u) failed", kDefine, probe, tip);
        ok = false;
    }
    return ok;
}

bool MCameraProbeDB::add_zoom(const ProbeTipRecord& record) {
    std::string text;
    if (!GetComponentData(text, record.probe, record.tip)) {
        MERRTRACE("%s(): GetComponentData() failed", kDefine);
        return false;
    }
    MIniData data(0);
    if (!data.SetContentString(text)) {
        MERRTRACE("%s(): SetContentString() failed", kDefine);
        return false;
    }
    if (!data.SetDoubleEntry("Camera", "zoom", record.d)) {
        MERRTRACE("%s(): SetDoubleEntry(%s, \"zoom\", %g) failed", kDefine, "Camera", record.d);
        return false;
    }
    if (!SetComponentData(data.GetContentString(), record.probe, record.tip)) {
        MERRTRACE("%s(): SetComponentData() failed", kDefine);
        return false;
    }
    return true;
}
