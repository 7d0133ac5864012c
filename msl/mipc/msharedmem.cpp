#include "msl/mipc/msharedmem.h"
#include "platform/trace/immortal.h"

#include "msl/mipc/mipcos.h"
#include "msl/mutil/stlstring.h"
#include "platform/trace/merrlog.h"
#include "platform/trace/merrtrace.h"
#include "platform/trace/mtrace.h"

#include <cstdint>
#include <map>
#include <mutex>
#include <string>

namespace {

namespace os = msl::ipcos;

struct LinkInfo {
    std::string name;
    os::Handle handle = os::kNoHandle;
    size_t size = 0;       // what GetSize reports
    size_t mappedSize = 0; // what was mapped, needed to unmap
    int link_count = 0;
    bool ownsName = false; // this process created the segment and removes its name
};

// The process-wide registry, ordered by view address. Created on first use and never
// destroyed, so that segments released during static destruction still find it.
struct Registry {
    std::mutex lock;
    std::map<uintptr_t, LinkInfo> links;

    std::map<uintptr_t, LinkInfo>::iterator FindByName(const std::string& name) {
        for (auto it = links.begin(); it != links.end(); ++it)
            if (it->second.name == name)
                return it;
        return links.end();
    }
};

Registry& TheRegistry() {
    return Immortal<Registry>();
}

uintptr_t Key(const void* address) {
    return reinterpret_cast<uintptr_t>(address);
}

const char* Text(const char* name) {
    return name != nullptr ? name : "";
}

// Records a new view with a link count of 0; the caller sets it to 1. False (nothing
// registered) when a record at this address that also holds this name disagrees with it.
bool SetNewLinkInfo(Registry& registry, const LinkInfo& info, void* address) {
    if (address == nullptr || info.name.empty())
        return true;
    auto byAddress = registry.links.find(Key(address));
    auto byName = registry.FindByName(info.name);
    if (byAddress != registry.links.end() && byAddress == byName) {
        const LinkInfo& old = byAddress->second;
        if (old.name != info.name || old.size != info.size || old.handle != info.handle) {
            MERRTRACE("SetNewLinkInfo():'%s'(%d,0x%x) in conflict to '%s'(%d,0x%x)",
                      info.name.c_str(), static_cast<int>(info.size),
                      static_cast<unsigned>(info.handle), old.name.c_str(),
                      static_cast<int>(old.size), static_cast<unsigned>(old.handle));
            return false;
        }
    }
    LinkInfo& slot = registry.links[Key(address)];
    slot = info;
    slot.link_count = 0;
    return true;
}

// Undoes a mapping that never made it into the registry.
void Abandon(const LinkInfo& info, void* address) {
    if (address != nullptr)
        os::UnmapObject(address, info.mappedSize);
    os::CloseObject(info.handle);
    if (info.ownsName)
        os::RemoveName(info.name.c_str());
}

// Registers a fresh view with one link; on a conflict the view is dropped again.
void* Register(Registry& registry, const LinkInfo& info, void* address) {
    if (!SetNewLinkInfo(registry, info, address)) {
        Abandon(info, address);
        return nullptr;
    }
    registry.links[Key(address)].link_count = 1;
    return address;
}

// The argument checks every entry point makes first; Link has no size to check (pass 1).
bool CheckArguments(const char* operation, const char* name, size_t size) {
    if (*name == '\0') {
        MERRTRACE("%s(): name == \"\"", operation);
        return false;
    }
    if (size == 0) {
        MERRTRACE("%s(): size <= 0", operation);
        return false;
    }
    if (const char* problem = os::SegmentNameProblem(name)) {
        MERRTRACE("%s(): invalid name \"%.40s\": %s", operation, stl_escape_name(name).c_str(),
                  problem);
        return false;
    }
    return true;
}

// Creates the object, replacing a stale one of that name: a segment that a crashed process
// left behind would otherwise block its name for good, and its old layout must not be taken
// for a new one. `users` tells who has a live one.
int CreateReplacingStale(const char* name, size_t size, os::Handle* handle, std::string* users) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        int error = os::CreateObject(name, size, handle);
        if (!os::AlreadyExists(error))
            return error;
        os::Handle existing = os::kNoHandle;
        error = os::OpenObject(name, &existing);
        if (os::NotFound(error))
            continue; // removed meanwhile
        if (error != 0)
            return error;
        error = os::ObjectUsers(existing, users);
        if (error == 0 && users->empty()) {
            error = os::RemoveStaleName(name, existing);
            MTRACE(2, "MSharedMem_Create(): stale segment \"%.40s\" removed", name);
        }
        os::CloseObject(existing);
        if (error != 0)
            return error;
        if (!users->empty())
            return os::AlreadyExistsError();
    }
    return os::AlreadyExistsError(); // others keep making it anew
}

// The name of a segment goes with the last link of the process that created it.
void RemoveNameIfOwned(const char* operation, const LinkInfo& info) {
    if (!info.ownsName)
        return;
    int error = os::RemoveName(info.name.c_str());
    if (error != 0 && !os::NotFound(error))
        MERRTRACE("%s(): removing the name \"%.40s\" failed (%d)", operation, info.name.c_str(),
                  error);
}

} // namespace

namespace msl::ipcos {

const char* SegmentNameProblem(const char* name) {
    // Names end up in listings and replies, one per line.
    const char* problem = stl_name_problem(name);
    return problem != nullptr ? problem : NameProblem(name);
}

} // namespace msl::ipcos

void* MSharedMem_Create(const char* name, size_t size) {
    name = Text(name);
    if (!CheckArguments("MSharedMem_Create", name, size))
        return nullptr;
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> guard(registry.lock);
    if (registry.FindByName(name) != registry.links.end()) {
        MERRTRACE("MSharedMem_Create(): name \"%.40s\" already exist", name);
        return nullptr;
    }
    LinkInfo info;
    info.name = name;
    info.size = info.mappedSize = size;
    std::string users;
    int error = CreateReplacingStale(name, size, &info.handle, &users);
    if (os::AlreadyExists(error)) {
        if (!users.empty())
            MERRTRACE("MSharedMem_Create(): \"%.40s\" is in use by %s", name, users.c_str());
        MERRTRACE("MSharedMem_Create(): \"%.40s\" ERROR_ALREADY_EXISTS", name);
        return nullptr;
    }
    if (os::NoSpace(error)) {
        MERRTRACE("MSharedMem_Create(): no shared memory left for %zu bytes of \"%.40s\" (%d)",
                  size, name, error);
        return nullptr;
    }
    if (error != 0) {
        MERRTRACE("MSharedMem_Create(): CreateFileMapping() failed (%d)", error);
        return nullptr;
    }
    info.ownsName = true;
    void* address = nullptr;
    if ((error = os::MapObject(info.handle, size, true, &address)) != 0) {
        MERRTRACE("MSharedMem_Create(): MapViewOfFile() failed (%d)", error);
        Abandon(info, nullptr);
        return nullptr;
    }
    return Register(registry, info, address);
}

void* MSharedMem_LinkOrCreate(const char* name, size_t size) {
    name = Text(name);
    if (!CheckArguments("MSharedMem_LinkOrCreate", name, size))
        return nullptr;
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> guard(registry.lock);
    auto known = registry.FindByName(name);
    if (known != registry.links.end()) {
        if (size > known->second.size) {
            MERRTRACE("%s(): existing size is too small for %s: %zu < %zu",
                      "MSharedMem_LinkOrCreate", name, known->second.size, size);
            return nullptr;
        }
        ++known->second.link_count;
        return reinterpret_cast<void*>(known->first);
    }

    LinkInfo info;
    info.name = name;
    int error = 0;
    // Creating and opening are two steps here; a segment removed between them is created anew.
    for (int attempt = 0; attempt < 3; ++attempt) {
        error = os::CreateObject(name, size, &info.handle);
        if (error == 0) {
            info.ownsName = true;
            info.size = info.mappedSize = size;
            break;
        }
        if (!os::AlreadyExists(error))
            break;
        error = os::OpenObject(name, &info.handle);
        if (error == 0) {
            error = os::ObjectSize(info.handle, &info.size);
            if (error != 0)
                os::CloseObject(info.handle);
            info.mappedSize = info.size;
            break;
        }
        if (!os::NotFound(error))
            break;
    }
    if (error != 0) {
        MERRTRACE("MSharedMem_Create(): CreateFileMapping() failed (%d)", error);
        return nullptr;
    }
    if (!info.ownsName && size > info.size) {
        MERRTRACE("%s(): existing size is too small for %s: %zu < %zu", "MSharedMem_LinkOrCreate",
                  name, info.size, size);
        os::CloseObject(info.handle);
        return nullptr;
    }
    void* address = nullptr;
    if ((error = os::MapObject(info.handle, info.mappedSize, info.ownsName, &address)) != 0) {
        MERRTRACE("MSharedMem_Create(): MapViewOfFile() failed (%d)", error);
        Abandon(info, nullptr);
        return nullptr;
    }
    return Register(registry, info, address);
}

void* MSharedMem_Link(const char* name) {
    name = Text(name);
    if (!CheckArguments("MSharedMem_Link", name, 1))
        return nullptr;
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> guard(registry.lock);
    auto known = registry.FindByName(name);
    if (known != registry.links.end()) {
        ++known->second.link_count;
        return reinterpret_cast<void*>(known->first);
    }
    LinkInfo info;
    info.name = name;
    int error = os::OpenObject(name, &info.handle);
    if (error != 0) {
        MERRTRACE("MSharedMem_Link() failed for '%s' (%d)", name, error);
        return nullptr;
    }
    error = os::ObjectSize(info.handle, &info.size);
    info.mappedSize = info.size;
    void* address = nullptr;
    if (error == 0 && info.size == 0)
        error = os::InvalidObjectError(); // a segment still being set up by its creator
    if (error != 0 || (error = os::MapObject(info.handle, info.size, false, &address)) != 0) {
        MERRTRACE("MSharedMem_Link(): MapViewOfFile() failed (%d)", error);
        os::CloseObject(info.handle);
        return nullptr;
    }
    return Register(registry, info, address);
}

int MSharedMem_Unlink(void* address) {
    if (address == nullptr) {
        MERRTRACE("MSharedMem_Unlink(): NULL pointer for memory");
        return 0;
    }
    Registry& registry = TheRegistry();
    std::unique_lock<std::mutex> guard(registry.lock);
    auto found = registry.links.find(Key(address));
    if (found == registry.links.end()) {
        guard.unlock();
        MERRTRACE("MSharedMem_Unlink(): no shared memory registered at %p", address);
        return 0;
    }
    if (found->second.link_count - 1 < 0) {
        MERRTRACE("MSharedMem_Unlink(): link_count < 0");
        return 0;
    }
    if (--found->second.link_count > 0)
        return 1;

    LinkInfo info = found->second;
    if (registry.links.erase(Key(address)) != 1)
        MERRTRACE("MSharedMem_Destroy(): DeleteLinkInfo() failed");
    if (int error = os::UnmapObject(address, info.mappedSize))
        MERRTRACE("MSharedMem_Unlink(): UnmapViewOfFile() failed (%d)", error);
    if (int error = os::CloseObject(info.handle))
        MERRTRACE("MSharedMem_Destroy(): CloseHandle() failed (%d)", error);
    RemoveNameIfOwned("MSharedMem_Unlink", info);
    return 1;
}

int MSharedMem_Destroy(void* address) {
    if (address == nullptr) {
        MERRTRACE("MSharedMem_Destroy(): NULL pointer for memory");
        return 0;
    }
    Registry& registry = TheRegistry();
    std::unique_lock<std::mutex> guard(registry.lock);
    auto found = registry.links.find(Key(address));
    if (found == registry.links.end()) {
        guard.unlock();
        MERRTRACE("MSharedMem_Destroy(): SearchMemLinkInfo() failed");
        return 0;
    }
    int result = 1;
    LinkInfo info = found->second;
    if (registry.links.erase(Key(address)) != 1) {
        MERRTRACE("MSharedMem_Destroy(): DeleteLinkInfo() failed");
        result = 0;
    }
    if (int error = os::UnmapObject(address, info.mappedSize)) {
        MERRTRACE("MSharedMem_Destroy(): UnmapViewOfFile() failed (%d)", error);
        result = 0;
    }
    if (int error = os::CloseObject(info.handle)) {
        MERRLOG("MSharedMem_Destroy(): CloseHandle() failed (%d)", error);
        result = 0;
    }
    RemoveNameIfOwned("MSharedMem_Destroy", info);
    return result;
}

const char* MSharedMem_GetName(void* address) {
    if (address == nullptr) {
        MERRTRACE("MSharedMem_GetName(): NULL pointer for memory");
        return nullptr;
    }
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> guard(registry.lock);
    auto found = registry.links.find(Key(address));
    if (found == registry.links.end()) {
        MERRTRACE("MSharedMem_GetName()failed: call MSharedMem_Link() or MSharedMem_LinkOrCreate() "
                  "first");
        return nullptr;
    }
    return found->second.name.c_str();
}

size_t MSharedMem_GetSize(void* address) {
    if (address == nullptr) {
        MERRTRACE("MSharedMem_GetSize(): NULL pointer for memory");
        return static_cast<size_t>(-1);
    }
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> guard(registry.lock);
    auto found = registry.links.find(Key(address));
    if (found == registry.links.end()) {
        MERRTRACE("MSharedMem_GetName()failed: call MSharedMem_Link() or MSharedMem_LinkOrCreate() "
                  "first");
        return static_cast<size_t>(-1);
    }
    return found->second.size;
}
