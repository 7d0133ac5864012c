#pragma once
// A process-wide object that is built on first use and never destroyed, for services that
// static destructors and still-running threads may call at exit (tracing, registries).
//
// It lives in static storage rather than on the heap, so unloading the module that holds it
// leaves no unreachable allocation behind (a heap object whose only pointer was in the module's
// data would be a leak once the module is gone).

#include <new>

template <class T> T& Immortal() {
    alignas(T) static unsigned char storage[sizeof(T)];
    static T* object = new (storage) T;
    return *object;
}
