#include "mt_proxy/camera/mmachabstract/mcameraautoinfo.h"

#include "lintel/server/machine/mclientnotifier.h"
#include "msl/mipc/mthread.h"
#include "platform/trace/merrtrace.h"
#include "platform/trace/mtrace.h"

MCameraAutoinfo::~MCameraAutoinfo() {
    if (IsRunning())
        Stop();
}

bool MCameraAutoinfo::Start(uint32_t interval) {
    intervalMs = interval < kMinimumIntervalMs ? kMinimumIntervalMs : interval;
    wakeUpEvent = create_event(nullptr);
    if (wakeUpEvent == nullptr)
        return false;
    thread = MThread_Create(&MCameraAutoinfo::WakeUpThread, this);
    if (thread == -1) {
        MERRTRACE("StartAutoinfo(): failed to create wakeup thread");
        close_event(wakeUpEvent);
        wakeUpEvent = nullptr;
        return false;
    }
    stopwatch = std::make_unique<MStopwatch>();
    MTRACE(4, "StartAutoinfo(): started autoinfo with %u ms interval", intervalMs);
    return true;
}

void MCameraAutoinfo::Stop() {
    axes.clear();
    if (thread != -1) {
        wake_up_clients(wakeUpEvent);
        MThread_Join(thread);
        close_event(wakeUpEvent);
        wakeUpEvent = nullptr;
    }
    thread = -1;
    stopwatch.reset();
    MTRACE(4, "StopAutoinfo(): autoinfo stopped");
}

bool MCameraAutoinfo::TakeInterval() {
    if (stopwatch == nullptr || stopwatch->Elapsed() * 1000.0 < intervalMs)
        return false;
    stopwatch->Restart();
    return true;
}

uint32_t MCameraAutoinfo::WakeUpThread(void* context) {
    auto* self = static_cast<MCameraAutoinfo*>(context);
    // Every time-out is an interval that passed; the event ends the thread.
    while (!wait_for_event(self->wakeUpEvent, self->intervalMs))
        if (self->notifier != nullptr)
            self->notifier->WakeUp();
    return 0;
}
