// Loading the GenICam back end with the dynamic loader.

#include "platform/vyx/genicamloader.h"

#include <cstdlib>
#include <dlfcn.h>
#include <mutex>

namespace Vyx::genicam {

namespace {

std::string OwnFolder() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&LoadGenicamPlugin), &info) == 0 ||
        info.dli_fname == nullptr)
        return ".";
    std::string path = info.dli_fname;
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

} // namespace

const PluginApi* LoadGenicamPlugin(std::string& error) {
    static std::mutex lock;
    static const PluginApi* loaded = nullptr;
    std::lock_guard<std::mutex> guard(lock);
    if (loaded != nullptr)
        return loaded;

    const char* configured = getenv("VYX_GENICAM_LIBRARY");
    const std::string path = configured != nullptr && *configured != '\0'
                                 ? std::string(configured)
                                 : OwnFolder() + "/libvyx_genicam.so";
    // Never closed: Aravis keeps threads and type registrations for the life of the process.
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* why = dlerror();
        error = "GenICam is not available: cannot load " + path + " (" +
                (why != nullptr ? why : "unknown reason") +
                "); the library is built only where libaravis-dev is installed";
        return nullptr;
    }
    auto entry = reinterpret_cast<const PluginApi* (*)()>(dlsym(handle, "VyxGenicam_GetApi"));
    const PluginApi* api = entry != nullptr ? entry() : nullptr;
    if (api == nullptr || api->version != PluginVersion) {
        error = "GenICam is not available: " + path + " is not a GenICam back end of this version";
        return nullptr;
    }
    loaded = api;
    return api;
}

} // namespace Vyx::genicam
