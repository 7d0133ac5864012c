// The camera machine's autoinfo: the server is woken at a fixed interval and reads the chosen
// axes, which the permanent axes callback keeps current from every frame.

#include "mt_proxy/camera/mmachabstract/mcameramachabstract.h"

#include "lintel/server/commands/moutputchannel.h"
#include "platform/trace/merrlog.h"
#include "platform/trace/mtrace.h"

namespace {

constexpr int32_t kInvalidAxis = 4;

} // namespace

bool MCameraMachAbstract::HasAutoinfo() {
    return true;
}

bool MCameraMachAbstract::StartAutoinfo(MOutputChannel* reply, uint32_t intervalMs,
                                        const std::vector<std::string>& names) {
    if (intervalMs < MCameraAutoinfo::kMinimumIntervalMs) {
        intervalMs = MCameraAutoinfo::kMinimumIntervalMs;
        MTRACE_ALWAYS("StartAutoinfo(): autoinfo interval too small. Adjusted to %u ms",
                      intervalMs);
    }
    for (const std::string& axis : names) {
        const size_t index = axes.IndexOf(axis);
        if (index == MCameraAxes::kNoAxis) {
            MERRLOG("StartAutoinfo(): unknown axis: %s", axis.c_str());
            if (reply != nullptr)
                reply->Error(kInvalidAxis);
            return false;
        }
        // Appended: the list is emptied only by StopAutoinfo.
        autoinfo.Axes().push_back(index);
    }
    return autoinfo.Start(intervalMs);
}

void MCameraMachAbstract::StopAutoinfo() {
    autoinfo.Stop();
}

bool MCameraMachAbstract::GetAutoinfo(std::vector<double>& values) {
    if (!autoinfo.TakeInterval())
        return false;
    axes.GetValues(autoinfo.Axes(), values);
    return true;
}

bool MCameraMachAbstract::IsAutoinfoRunning() {
    return autoinfo.IsRunning();
}
