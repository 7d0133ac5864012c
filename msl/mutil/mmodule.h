#pragma once
// A module (shared object or DLL) loaded at run time, the way the Lintel server loads the
// camera module: loaded by path, its exports found by name, unloaded with the object.

#include <string>

class MModule {
public:
    MModule() = default;
    ~MModule();
    MModule(const MModule&) = delete;
    MModule& operator=(const MModule&) = delete;

    // Loads the module with everything it needs resolved now; its symbols stay its own.
    // False with the system's reason in Error() when it cannot be loaded.
    bool Load(const std::string& path);
    bool IsLoaded() const { return handle != nullptr; }
    // Unloads the module: whatever it created must be gone before.
    void Unload();

    // The exported function `name`, or null (Error() tells why).
    template <class Function> Function Find(const char* name) {
        return reinterpret_cast<Function>(FindSymbol(name));
    }

    const std::string& Error() const { return error; }

private:
    void (*FindSymbol(const char* name))();

    void* handle = nullptr;
    std::string error;
};
