#include "mt_proxy/camera/misc/mcameraglobals.h"

#include <atomic>
#include <mutex>

namespace {

// Set on the server's command thread, read by the camera code on other threads.
std::mutex configDirLock;
std::string& ConfigDir() {
    static std::string directory;
    return directory;
}

std::atomic<double> counterFrequency{0.0};

} // namespace

void MCameraGlobals_SetConfigDir(const std::string& directory) {
    std::lock_guard<std::mutex> guard(configDirLock);
    ConfigDir() = directory;
}

std::string MCameraGlobals_GetConfigDir() {
    std::lock_guard<std::mutex> guard(configDirLock);
    return ConfigDir();
}

void MCameraGlobals_SetCounterFrequency(double ticksPerSecond) {
    counterFrequency.store(ticksPerSecond, std::memory_order_relaxed);
}

double MCameraGlobals_GetCounterFrequency() {
    return counterFrequency.load(std::memory_order_relaxed);
}
