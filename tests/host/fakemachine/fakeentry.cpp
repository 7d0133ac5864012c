// The three entry points every machine-driver module exports.

#include "tests/host/fakemachine/fakemachine.h"

#include <cstdint>
#include <string>

#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))

FAKE_EXPORT bool IsProxy() {
    return false;
}

FAKE_EXPORT MMachAbstract* NewMMachAbstract(const std::string& name, const std::string& directory,
                                            MOutputChannel* channel, MClientNotifier* notifier) {
    return new FakeMachine(name, directory, channel, notifier);
}

FAKE_EXPORT void SetDefaultTracelevel(int32_t) {}
