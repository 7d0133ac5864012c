#pragma once
// The machine-driver module, loaded at run time as the Lintel server loads it, and its three
// entry points. The module stays loaded for the lifetime of this object; everything it created
// must be gone before that ends.

#include "msl/mutil/mmodule.h"

#include <cstdint>
#include <string>

class MClientNotifier;
class MMachAbstract;
class MOutputChannel;

class LoadedModule {
public:
    using IsProxyFunction = bool (*)();
    using NewMachineFunction = MMachAbstract* (*)(const std::string&, const std::string&,
                                                  MOutputChannel*, MClientNotifier*);
    using SetLevelFunction = void (*)(int32_t);

    // Loads the module and finds its entry points; false with the reason in `error`.
    bool Load(const std::string& path, std::string& error);
    void Unload();

    IsProxyFunction isProxy = nullptr;
    NewMachineFunction newMachine = nullptr;
    SetLevelFunction setDefaultTracelevel = nullptr;

private:
    MModule module;
};

// The module built beside the host (`name` in the host's own folder) when it is there, else
// `fallback`.
std::string LoadedModule_DefaultPath(const std::string& name, const std::string& fallback);
