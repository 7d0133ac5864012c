#pragma once
// The live value of one channel. The value of a channel is raw + offset; the raw value is
// also written to `publish`, which points at `raw` itself until the probe manager gives the
// channel a place in the machine's value array (SetPropertyFifoAddress).

#include "csensor/sensors/csensorchannel.h"

#include <cstring>
#include <string_view>

struct CSensorPropertyValue {
    char name[CSENSOR_NAME_MAX + 1] = {};
    double offset = 0.0;
    double raw = 0.0;
    double* publish = nullptr;

    void SetName(std::string_view text) {
        size_t n = text.size() < CSENSOR_NAME_MAX ? text.size() : CSENSOR_NAME_MAX;
        std::memcpy(name, text.data(), n);
        name[n] = '\0';
    }
    bool HasOwnPublish() const { return publish == &raw; }
};
