// Arbitrary bytes as INI text: whatever part of it parses must write out as text that parses
// again to exactly the same text. The first byte picks the document flags, so every parser
// rule (lenient entries, replaced sections and entries) is reached.

#include "msl/mutil/minidata.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const uint32_t flags = data[0] & 0x3F;
    std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);

    MIniData first(flags);
    first.SetContentString(text); // may fail part-way; what was parsed must still round-trip
    const std::string written = first.GetContentString();

    MIniData second(flags);
    if (!second.SetContentString(written)) {
        std::fprintf(stderr, "written text does not parse again: %s\n",
                     second.GetMessage().c_str());
        std::abort();
    }
    if (second.GetContentString() != written) {
        std::fprintf(stderr, "written text parses to different text\n");
        std::abort();
    }
    MIniData copy(second);
    if (copy.GetContentString() != written) {
        std::fprintf(stderr, "copy differs from its source\n");
        std::abort();
    }
    return 0;
}
