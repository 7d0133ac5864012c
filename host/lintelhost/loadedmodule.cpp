#include "host/lintelhost/loadedmodule.h"

#include "host/lintelhost/hostplatform.h"

#include <filesystem>
#include <system_error>

bool LoadedModule::Load(const std::string& path, std::string& error) {
    if (!module.Load(path)) {
        error = "cannot load " + path + ": " + module.Error();
        return false;
    }
    isProxy = module.Find<IsProxyFunction>("IsProxy");
    newMachine = module.Find<NewMachineFunction>("NewMMachAbstract");
    setDefaultTracelevel = module.Find<SetLevelFunction>("SetDefaultTracelevel");
    if (isProxy == nullptr || newMachine == nullptr || setDefaultTracelevel == nullptr) {
        error = path + " lacks the entry points IsProxy, NewMMachAbstract and SetDefaultTracelevel";
        Unload();
        return false;
    }
    return true;
}

void LoadedModule::Unload() {
    module.Unload();
    isProxy = nullptr;
    newMachine = nullptr;
    setDefaultTracelevel = nullptr;
}

std::string LoadedModule_DefaultPath(const std::string& name, const std::string& fallback) {
    const std::string folder = HostPlatform_ProgramFolder();
    if (!folder.empty()) {
        std::error_code error;
        std::filesystem::path beside = std::filesystem::path(folder) / name;
        if (std::filesystem::exists(beside, error))
            return beside.string();
    }
    return fallback;
}
