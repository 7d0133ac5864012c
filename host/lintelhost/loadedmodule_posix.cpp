#include "host/lintelhost/loadedmodule.h"

#include <dlfcn.h>

#include <filesystem>
#include <system_error>

LoadedModule::~LoadedModule() {
    Unload();
}

bool LoadedModule::Load(const std::string& path, std::string& error) {
    handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* reason = dlerror();
        error = reason != nullptr ? reason : "cannot load " + path;
        return false;
    }
    isProxy = reinterpret_cast<IsProxyFunction>(dlsym(handle, "IsProxy"));
    newMachine = reinterpret_cast<NewMachineFunction>(dlsym(handle, "NewMMachAbstract"));
    setDefaultTracelevel =
        reinterpret_cast<SetLevelFunction>(dlsym(handle, "SetDefaultTracelevel"));
    if (isProxy == nullptr || newMachine == nullptr || setDefaultTracelevel == nullptr) {
        error = path + " lacks the entry points IsProxy, NewMMachAbstract and SetDefaultTracelevel";
        Unload();
        return false;
    }
    return true;
}

void LoadedModule::Unload() {
    if (handle != nullptr)
        dlclose(handle);
    handle = nullptr;
    isProxy = nullptr;
    newMachine = nullptr;
    setDefaultTracelevel = nullptr;
}

std::string LoadedModule_DefaultPath(const std::string& fallback) {
    std::error_code error;
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error) {
        std::filesystem::path beside = self.parent_path() / "libvyxcamera.so";
        if (std::filesystem::exists(beside, error))
            return beside.string();
    }
    return fallback;
}
