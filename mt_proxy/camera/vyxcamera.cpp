// The module's three entry points; everything else stays inside the module.

#include "platform/trace/mtrace.h"

#define VYX_EXPORT extern "C" __attribute__((visibility("default")))

VYX_EXPORT bool IsProxy() { return false; }

VYX_EXPORT void SetDefaultTracelevel(int level) { _MTrace_SetLevel("default", level); }

// The machine itself lands with the machine framework.
VYX_EXPORT void* NewMMachAbstract() { return nullptr; }
