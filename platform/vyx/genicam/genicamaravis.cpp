#include "platform/vyx/genicam/genicamaravis.h"

#include <arv.h>

#include <mutex>

namespace Vyx::genicam {

namespace {

std::mutex& AravisLock() {
    static std::mutex lock;
    return lock;
}

// Aravis's test camera: an interface of its own, off unless asked for.
constexpr const char* kFakeInterface = "Fake";

} // namespace

ArvCamera* OpenAravisCamera(const std::string& device, bool withFake, std::string& why) {
    std::lock_guard<std::mutex> lock(AravisLock());
    if (withFake)
        arv_enable_interface(kFakeInterface);
    GError* error = nullptr;
    ArvCamera* camera = arv_camera_new(device.c_str(), &error);
    if (camera == nullptr) {
        why = error != nullptr && error->message != nullptr ? error->message : "not found";
        g_clear_error(&error);
    }
    return camera;
}

bool EnumerateAravisCameras(bool includeFake, std::vector<CCameraEntry>& cameras, std::string&) {
    std::lock_guard<std::mutex> lock(AravisLock());
    if (includeFake)
        arv_enable_interface(kFakeInterface);
    arv_update_device_list();
    auto text = [](const char* value) { return std::string(value != nullptr ? value : ""); };
    for (unsigned int i = 0; i < arv_get_n_devices(); ++i) {
        const std::string protocol = text(arv_get_device_protocol(i));
        // Enabled once for a test, the fake interface stays on for the process.
        if (protocol == "Fake" && !includeFake)
            continue;
        CCameraEntry entry;
        entry.backEnd = "genicam";
        entry.id = text(arv_get_device_id(i));
        entry.manufacturer = text(arv_get_device_vendor(i));
        entry.model = text(arv_get_device_model(i));
        entry.serialNumber = text(arv_get_device_serial_nbr(i));
        if (protocol == "GigEVision")
            entry.address = text(arv_get_device_address(i));
        cameras.push_back(entry);
    }
    return true;
}

} // namespace Vyx::genicam
