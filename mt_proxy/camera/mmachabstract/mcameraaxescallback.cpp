#include "mt_proxy/camera/mmachabstract/mcameraaxescallback.h"

#include "csensor/sensors/csensor.h"
#include "lintel/server/machine/mclientnotifier.h"
#include "mt_proxy/camera/misc/cimagereceivers.h"
#include "mt_proxy/camera/mmachabstract/mcameraframe.h"
#include "platform/trace/merrlog.h"
#include "platform/trace/merrtrace.h"
#include "platform/trace/mtrace.h"

#include <mutex>

void MCameraAxesCallback::Remove(CSensor* sensor) {
    if (sensor == nullptr)
        return;
    const CImageReceiver receiver{&MCameraAxesCallback::Callback, this};
    // Not being registered is the normal case after a change of sensor.
    MErrTrace_BeginContext();
    sensor->SetPropertyData(1, &receiver);
    MErrTrace_ClearContext();
    MErrTrace_EndContext();
}

void MCameraAxesCallback::Install(CSensor* sensor) {
    Remove(sensor);
    const struct {
        const char* name;
        std::atomic<size_t>& index;
        const char* missing;
    } lookups[] = {
        {"trigger_count", triggerCountIndex,
         "install_update_axes_callback(): axis \"trigger_count\" not registered"},
        {"time", timeIndex, "install_update_axes_callback(): axis \"time\" not registered"},
        {"temp_camera", temperatureIndex,
         "MCameraMachAbstract::install_update_axes_callback(): axis \"temp_camera\" not "
         "registered"},
    };
    for (const auto& lookup : lookups) {
        const size_t index = axes.IndexOf(lookup.name);
        if (index == MCameraAxes::kNoAxis) {
            MERRLOG("%s", lookup.missing);
            return;
        }
        lookup.index.store(index, std::memory_order_relaxed);
    }
    cameraError.store(false);
    const CImageReceiver receiver{&MCameraAxesCallback::Callback, this};
    if (sensor == nullptr || !sensor->SetPropertyData(0, &receiver)) {
        MERRLOG("install_update_axes_callback(): failed to register callback");
        return;
    }
    MTRACE(5, "install_update_axes_callback(): done");
}

void MCameraAxesCallback::Callback(void* context, const Vyx::CImgBuffer* image, uint32_t) {
    auto* self = static_cast<MCameraAxesCallback*>(context);
    const double time = MCameraFrame_Time(*image);
    const double temperature = MCameraFrame_Temperature(*image);
    {
        std::lock_guard<varn::ThreadMutex> guard(self->axes.Lock());
        double* values = self->axes.ValuesLocked();
        const size_t count = self->axes.ValueCountLocked();
        const size_t indexes[] = {self->triggerCountIndex.load(std::memory_order_relaxed),
                                  self->timeIndex.load(std::memory_order_relaxed),
                                  self->temperatureIndex.load(std::memory_order_relaxed)};
        const double written[] = {static_cast<double>(image->frameCounter), time, temperature};
        for (size_t i = 0; i < 3; ++i)
            if (indexes[i] < count)
                values[indexes[i]] = written[i];
    }
    // One report per poll cycle, however many broken frames come before it.
    if (MCameraFrame_IsBroken(*image) && !self->cameraError.exchange(true) &&
        self->notifier != nullptr)
        self->notifier->WakeUp();
}
