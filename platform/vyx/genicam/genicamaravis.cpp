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

std::string Text(GSocketAddress* address, bool* loopback = nullptr) {
    if (address == nullptr || !G_IS_INET_SOCKET_ADDRESS(address))
        return std::string();
    GInetAddress* inet = g_inet_socket_address_get_address(G_INET_SOCKET_ADDRESS(address));
    if (loopback != nullptr)
        *loopback = g_inet_address_get_is_loopback(inet);
    gchar* text = g_inet_address_to_string(inet);
    std::string result = text != nullptr ? text : "";
    g_free(text);
    return result;
}

// The address of a GigE Vision camera on this machine's loopback that was found through
// another interface, whose stream would then never reach us (a camera answers a broadcast on
// any of its interfaces); empty otherwise.
std::string LoopbackAddressFoundElsewhere(ArvCamera* camera) {
    if (!arv_camera_is_gv_device(camera))
        return std::string();
    ArvGvDevice* device = ARV_GV_DEVICE(arv_camera_get_device(camera));
    bool at = false, via = false;
    const std::string address = Text(arv_gv_device_get_device_address(device), &at);
    Text(arv_gv_device_get_interface_address(device), &via);
    return at && !via ? address : std::string();
}

ArvCamera* NewCamera(const std::string& device, std::string& why) {
    GError* error = nullptr;
    ArvCamera* camera = arv_camera_new(device.c_str(), &error);
    if (camera == nullptr) {
        why = error != nullptr && error->message != nullptr ? error->message : "not found";
        g_clear_error(&error);
    }
    return camera;
}

} // namespace

ArvCamera* OpenAravisCamera(const std::string& device, bool withFake, std::string& why) {
    std::lock_guard<std::mutex> lock(AravisLock());
    if (withFake)
        arv_enable_interface(kFakeInterface);
    ArvCamera* camera = NewCamera(device, why);
    const std::string loopback = camera != nullptr ? LoopbackAddressFoundElsewhere(camera) : "";
    if (!loopback.empty()) {
        // Opened by its address, it streams over the loopback interface it is on.
        g_object_unref(camera);
        camera = NewCamera(loopback, why);
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

bool GigEAddresses(ArvCamera* camera, std::string& interfaceAddress, std::string& cameraAddress) {
    if (!arv_camera_is_gv_device(camera))
        return false;
    ArvGvDevice* device = ARV_GV_DEVICE(arv_camera_get_device(camera));
    interfaceAddress = Text(arv_gv_device_get_interface_address(device));
    cameraAddress = Text(arv_gv_device_get_device_address(device));
    return true;
}

} // namespace Vyx::genicam
