#include "csensor/sensors/csensorregistry.h"

#include <map>
#include <mutex>

namespace {

// Names compare by plain bytes (std::string's order), so "Vyxcamera" comes before "unloaded".
struct Registry {
    std::mutex lock;
    std::map<std::string, CSensorFactory> factories;
};

// Built on first use, so registration from any static initialiser finds it ready.
Registry& registry() {
    static Registry instance;
    return instance;
}

} // namespace

bool CSensorRegistry_Register(const std::string& name, CSensorFactory factory) {
    if (name.empty() || !factory)
        return false;
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    r.factories[name] = factory;
    return true;
}

bool CSensorRegistry_Unregister(const std::string& name) {
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    return r.factories.erase(name) > 0;
}

bool CSensorRegistry_IsRegistered(const std::string& name) {
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    return r.factories.count(name) > 0;
}

std::vector<std::pair<std::string, CSensorFactory>> CSensorRegistry_GetEntries() {
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    return {r.factories.begin(), r.factories.end()};
}
