#include "csensor/sensors/csensorhardwareinputs.h"

#include <cstdio>

namespace {

// More inputs than any measuring computer has; a bigger number is a typing error.
const int32_t kMaxInputs = 64;
const int32_t kMaxRanges = 16;

std::vector<std::string> split_names(const std::string& list) {
    std::vector<std::string> names;
    size_t begin = 0;
    while (begin <= list.size()) {
        size_t end = list.find(',', begin);
        if (end == std::string::npos)
            end = list.size();
        names.push_back(CSensor_TrimValue(std::string_view(list).substr(begin, end - begin)));
        begin = end + 1;
    }
    return names;
}

} // namespace

bool CSensor_IsSwitchingInputType(const std::string& type) {
    return type == "SwitchingProbe" || type == "UniversalTrigger";
}

int CSensorHardwareInputs::Read(MIniData& doc) {
    CSensorIniReader reader(doc);
    inputs.clear();
    nInput = static_cast<size_t>(reader.Long("GENERAL", "Input", 0, 0, kMaxInputs));
    for (size_t n = 1; n <= nInput; ++n) {
        char section[32];
        std::snprintf(section, sizeof(section), "Input_%zu", n);
        CSensorHardwareInput input;
        input.type = reader.Text(section, "type", "None");
        if (CSensor_IsSwitchingInputType(input.type)) {
            input.damping_s = reader.Double(section, "damping_s", 0.05);
        } else if (input.type != "None") {
            input.zeroshift_mm = reader.Double(section, "zeroshift_mm", 0.0);
            input.range = reader.Long(section, "range", 1, 0, kMaxRanges);
            for (int32_t k = 1; k <= input.range; ++k) {
                char key[32];
                std::snprintf(key, sizeof(key), "range_%d_mm", k);
                input.range_mm.push_back(reader.Double(section, key, 1.0));
            }
        }
        std::string names;
        if (reader.OptionalText(section, "CompVectorName", names))
            input.compVectorNames = split_names(names);
        inputs.push_back(std::move(input));
    }
    return reader.Changes();
}
