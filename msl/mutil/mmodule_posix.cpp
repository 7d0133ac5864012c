#include "msl/mutil/mmodule.h"

#include <dlfcn.h>

MModule::~MModule() {
    Unload();
}

void MModule::Unload() {
    if (handle != nullptr)
        dlclose(handle);
    handle = nullptr;
}

bool MModule::Load(const std::string& path) {
    Unload();
    handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* reason = dlerror();
        error = reason != nullptr ? reason : "dlopen() failed";
        return false;
    }
    return true;
}

void (*MModule::FindSymbol(const char* name))() {
    if (handle == nullptr) {
        error = "no module loaded";
        return nullptr;
    }
    void* symbol = dlsym(handle, name);
    if (symbol == nullptr) {
        error = std::string("no symbol ") + name;
        return nullptr;
    }
    return reinterpret_cast<void (*)()>(symbol);
}
