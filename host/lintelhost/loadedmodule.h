#pragma once
// The machine-driver module, loaded with the dynamic loader, and its three entry points. The
// module stays loaded for the lifetime of this object; everything it created must be gone
// before that ends.

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

    LoadedModule() = default;
    ~LoadedModule();
    LoadedModule(const LoadedModule&) = delete;
    LoadedModule& operator=(const LoadedModule&) = delete;

    // Loads the module and finds its entry points; false with the reason in `error`.
    bool Load(const std::string& path, std::string& error);
    void Unload();

    IsProxyFunction isProxy = nullptr;
    NewMachineFunction newMachine = nullptr;
    SetLevelFunction setDefaultTracelevel = nullptr;

private:
    void* handle = nullptr;
};

// The module built beside the host: libvyxcamera.so in the host's own folder when there is
// one, else `fallback`.
std::string LoadedModule_DefaultPath(const std::string& fallback);
