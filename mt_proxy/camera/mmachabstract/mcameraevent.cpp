#include "mt_proxy/camera/mmachabstract/mcameraevent.h"

#include "msl/mipc/mmanualresetevent.h"
#include "msl/mipc/mnamedevent.h"
#include "platform/trace/merrlog.h"
#include "platform/trace/merrtrace.h"
#include "platform/trace/mtrace.h"

#include <cerrno>
#include <memory>
#include <new>

struct MCameraEvent {
    std::unique_ptr<MManualResetEvent> local; // unnamed kind
    MNamedEvent* named = nullptr;             // named kind
};

MCameraEvent* create_event(const char* name) {
    auto* event = new (std::nothrow) MCameraEvent;
    if (event == nullptr) {
        MERRTRACE("create_event(): CreateEvent() failed: %d", ENOMEM);
        return nullptr;
    }
    if (name != nullptr) {
        event->named = MNamedEvent_Create(name);
        if (event->named == nullptr) {
            MERRTRACE("create_event(): CreateEvent() failed: %d", MNamedEvent_GetLastError());
            delete event;
            return nullptr;
        }
    } else {
        event->local = std::make_unique<MManualResetEvent>(false);
    }
    MTRACE(5, "create_event(): event %s created", name != nullptr ? name : "");
    return event;
}

bool close_event(MCameraEvent* event) {
    if (event == nullptr)
        return true;
    bool ok = true;
    if (event->named != nullptr && MNamedEvent_Close(event->named) == 0) {
        MERRLOG("close_event(): CloseEvent() failed: %d", MNamedEvent_GetLastError());
        ok = false;
    }
    delete event;
    return ok;
}

bool wake_up_clients(MCameraEvent* event) {
    if (event == nullptr) {
        MERRLOG("wake_up_clients(): SetEvent() failed: %d", EINVAL);
        return false;
    }
    if (event->named == nullptr) {
        event->local->Set();
        return true;
    }
    if (MNamedEvent_Signal(event->named) == 0) {
        MERRLOG("wake_up_clients(): SetEvent() failed: %d", MNamedEvent_GetLastError());
        return false;
    }
    return true;
}

bool wait_for_event(MCameraEvent* event, uint32_t timeoutMs) {
    if (event == nullptr)
        return false;
    if (event->named == nullptr)
        return event->local->Wait(timeoutMs);
    return MNamedEvent_Wait(event->named, timeoutMs) == 1;
}
