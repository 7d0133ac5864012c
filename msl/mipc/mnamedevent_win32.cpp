// The named event of the Windows build: a named manual-reset event of the system.
#include "msl/mipc/mnamedevent.h"

#include "msl/mipc/mipcos.h"
#include "msl/mipc/mnamedevent_internal.h"
#include "platform/trace/merrtrace.h"

#include <string>
#include <windows.h>

namespace os = msl::ipcos;

struct MNamedEvent {
    std::string name;
    HANDLE handle = nullptr;
};

namespace {

int SystemError() {
    DWORD code = GetLastError();
    return MNamedEvent_Fail(code != 0 ? static_cast<int>(code) : ERROR_GEN_FAILURE);
}

// Reports a failed create or open: a name taken by an object of another kind is no event.
void ReportFailure(const char* operation, const char* verb, const char* name) {
    int error = SystemError();
    if (error == os::InvalidObjectError())
        MERRTRACE("%s(): \"%.40s\" is not an event (%d)", operation, name, error);
    else
        MERRTRACE("%s(): cannot %s \"%.40s\" (%d)", operation, verb, name, error);
}

MNamedEvent* Wrap(const char* name, HANDLE handle) {
    auto* event = new MNamedEvent;
    event->name = name;
    event->handle = handle;
    return event;
}

} // namespace

MNamedEvent* MNamedEvent_Create(const char* name) {
    if (!MNamedEvent_CheckName("MNamedEvent_Create", name))
        return nullptr;
    // An existing event is opened as it is, its state unchanged.
    HANDLE handle = CreateEventA(nullptr, TRUE, FALSE, name);
    if (handle == nullptr) {
        ReportFailure("MNamedEvent_Create", "create", name);
        return nullptr;
    }
    return Wrap(name, handle);
}

MNamedEvent* MNamedEvent_Open(const char* name) {
    if (!MNamedEvent_CheckName("MNamedEvent_Open", name))
        return nullptr;
    HANDLE handle = OpenEventA(EVENT_MODIFY_STATE | SYNCHRONIZE, FALSE, name);
    if (handle == nullptr) {
        ReportFailure("MNamedEvent_Open", "open", name);
        return nullptr;
    }
    return Wrap(name, handle);
}

int MNamedEvent_Signal(MNamedEvent* event) {
    if (event == nullptr) {
        MERRTRACE("MNamedEvent_Signal(): NULL event");
        MNamedEvent_Fail(os::InvalidObjectError());
        return 0;
    }
    if (!SetEvent(event->handle)) {
        MERRTRACE("MNamedEvent_Signal(): waking \"%.40s\" failed (%d)", event->name.c_str(),
                  SystemError());
        return 0;
    }
    return 1;
}

int MNamedEvent_Reset(MNamedEvent* event) {
    if (event == nullptr) {
        MERRTRACE("MNamedEvent_Reset(): NULL event");
        MNamedEvent_Fail(os::InvalidObjectError());
        return 0;
    }
    if (!ResetEvent(event->handle)) {
        MERRTRACE("MNamedEvent_Reset(): resetting \"%.40s\" failed (%d)", event->name.c_str(),
                  SystemError());
        return 0;
    }
    return 1;
}

int MNamedEvent_Wait(MNamedEvent* event, uint32_t timeout_ms) {
    if (event == nullptr) {
        MERRTRACE("MNamedEvent_Wait(): NULL event");
        MNamedEvent_Fail(os::InvalidObjectError());
        return -1;
    }
    static_assert(kMNamedEventInfinite == INFINITE, "the same time-out that never expires");
    switch (WaitForSingleObject(event->handle, timeout_ms)) {
    case WAIT_OBJECT_0:
        return 1;
    case WAIT_TIMEOUT:
        return 0;
    default:
        MERRTRACE("MNamedEvent_Wait(): waiting on \"%.40s\" failed (%d)", event->name.c_str(),
                  SystemError());
        return -1;
    }
}

int MNamedEvent_Close(MNamedEvent* event) {
    if (event == nullptr)
        return 1;
    int result = 1;
    if (!CloseHandle(event->handle)) {
        MERRTRACE("MNamedEvent_Close(): closing \"%.40s\" failed (%d)", event->name.c_str(),
                  SystemError());
        result = 0;
    }
    delete event;
    return result;
}
