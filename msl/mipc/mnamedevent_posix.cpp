#include "msl/mipc/mnamedevent.h"

#include "msl/mipc/mipcos.h"
#include "msl/mipc/mnamedevent_internal.h"
#include "platform/trace/merrtrace.h"

#include <atomic>
#include <string>

namespace os = msl::ipcos;

struct MNamedEvent {
    std::string name;
    os::Handle handle = os::kNoHandle;
    uint32_t* words = nullptr; // [0] magic, [1] state
    bool ownsName = false;

    std::atomic_ref<uint32_t> Magic() const { return std::atomic_ref<uint32_t>(words[0]); }
    std::atomic_ref<uint32_t> State() const { return std::atomic_ref<uint32_t>(words[1]); }
};

namespace {

// Maps an event object that someone else made and checks that it is one.
MNamedEvent* Attach(const char* operation, const char* name, os::Handle handle) {
    size_t size = 0;
    int error = os::ObjectSize(handle, &size);
    if (error == 0 && size < kMNamedEventSize)
        error = os::InvalidObjectError();
    void* address = nullptr;
    if (error == 0)
        error = os::MapObject(handle, kMNamedEventSize, false, &address);
    if (error != 0) {
        MERRTRACE("%s(): \"%.40s\" is not an event (%d)", operation, name, MNamedEvent_Fail(error));
        os::CloseObject(handle);
        return nullptr;
    }
    auto* event = new MNamedEvent;
    event->name = name;
    event->handle = handle;
    event->words = static_cast<uint32_t*>(address);
    // Acquire: pairs with the creator's release of the magic, so the state is initialised.
    if (event->Magic().load(std::memory_order_acquire) != kMNamedEventMagic) {
        MERRTRACE("%s(): \"%.40s\" is not an event (%d)", operation, name,
                  MNamedEvent_Fail(os::InvalidObjectError()));
        MNamedEvent_Close(event);
        return nullptr;
    }
    return event;
}

} // namespace

MNamedEvent* MNamedEvent_Create(const char* name) {
    if (!MNamedEvent_CheckName("MNamedEvent_Create", name))
        return nullptr;
    os::Handle handle = os::kNoHandle;
    int error = os::CreateObject(name, kMNamedEventSize, &handle);
    if (os::AlreadyExists(error)) {
        if ((error = os::OpenObject(name, &handle)) == 0)
            return Attach("MNamedEvent_Create", name, handle);
    }
    if (error != 0) {
        MERRTRACE("MNamedEvent_Create(): cannot create \"%.40s\" (%d)", name,
                  MNamedEvent_Fail(error));
        return nullptr;
    }
    void* address = nullptr;
    if ((error = os::MapObject(handle, kMNamedEventSize, false, &address)) != 0) {
        MERRTRACE("MNamedEvent_Create(): cannot map \"%.40s\" (%d)", name, MNamedEvent_Fail(error));
        os::CloseObject(handle);
        os::RemoveName(name);
        return nullptr;
    }
    auto* event = new MNamedEvent;
    event->name = name;
    event->handle = handle;
    event->words = static_cast<uint32_t*>(address);
    event->ownsName = true;
    event->State().store(0, std::memory_order_relaxed);
    // Release: an opener that sees the magic also sees the state word set up.
    event->Magic().store(kMNamedEventMagic, std::memory_order_release);
    return event;
}

MNamedEvent* MNamedEvent_Open(const char* name) {
    if (!MNamedEvent_CheckName("MNamedEvent_Open", name))
        return nullptr;
    os::Handle handle = os::kNoHandle;
    if (int error = os::OpenObject(name, &handle)) {
        MERRTRACE("MNamedEvent_Open(): cannot open \"%.40s\" (%d)", name, MNamedEvent_Fail(error));
        return nullptr;
    }
    return Attach("MNamedEvent_Open", name, handle);
}

int MNamedEvent_Signal(MNamedEvent* event) {
    if (event == nullptr) {
        MERRTRACE("MNamedEvent_Signal(): NULL event");
        MNamedEvent_Fail(os::InvalidObjectError());
        return 0;
    }
    // Release: whatever was written before signalling (the image) is visible to a client that
    // sees the event set.
    event->State().store(1, std::memory_order_release);
    if (int error = os::WakeAllOnWord(&event->words[1])) {
        MERRTRACE("MNamedEvent_Signal(): waking \"%.40s\" failed (%d)", event->name.c_str(),
                  MNamedEvent_Fail(error));
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
    // Release: the client's reads of the image are done before the writer may overwrite it.
    event->State().store(0, std::memory_order_release);
    return 1;
}

int MNamedEvent_Wait(MNamedEvent* event, uint32_t timeout_ms) {
    if (event == nullptr) {
        MERRTRACE("MNamedEvent_Wait(): NULL event");
        MNamedEvent_Fail(os::InvalidObjectError());
        return -1;
    }
    const bool forever = timeout_ms == kMNamedEventInfinite;
    const int64_t deadline = os::MonotonicNs() + int64_t(timeout_ms) * 1000000;
    // Acquire: pairs with the release in Signal.
    while (event->State().load(std::memory_order_acquire) == 0) {
        int64_t left = forever ? -1 : deadline - os::MonotonicNs();
        if (!forever && left <= 0)
            return 0;
        // Woken, interrupted or timed out: the loop looks at the word again either way.
        os::WaitOnWord(&event->words[1], 0, left);
    }
    return 1;
}

int MNamedEvent_Close(MNamedEvent* event) {
    if (event == nullptr)
        return 1;
    int result = 1;
    if (int error = os::UnmapObject(event->words, kMNamedEventSize)) {
        MERRTRACE("MNamedEvent_Close(): unmapping \"%.40s\" failed (%d)", event->name.c_str(),
                  MNamedEvent_Fail(error));
        result = 0;
    }
    if (int error = os::CloseObject(event->handle)) {
        MERRTRACE("MNamedEvent_Close(): closing \"%.40s\" failed (%d)", event->name.c_str(),
                  MNamedEvent_Fail(error));
        result = 0;
    }
    if (event->ownsName) {
        int error = os::RemoveName(event->name.c_str());
        if (error != 0 && !os::NotFound(error)) {
            MERRTRACE("MNamedEvent_Close(): removing the name \"%.40s\" failed (%d)",
                      event->name.c_str(), MNamedEvent_Fail(error));
            result = 0;
        }
    }
    delete event;
    return result;
}
