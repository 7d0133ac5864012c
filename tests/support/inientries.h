#pragma once
// Entries of INI texts for the tests that check what a component wrote back.

#include "msl/mutil/minidata.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace vyx::test {

// The entry's value, "<missing>" when absent.
inline std::string Entry(const MIniData& doc, const char* section, const char* key) {
    std::string value;
    return doc.GetStringEntry(section, key, value) ? value : "<missing>";
}

inline std::string Entry(const std::string& text, const char* section, const char* key) {
    MIniData doc;
    doc.SetContentString(text);
    return Entry(doc, section, key);
}

// Checks each "key=value" of the blank-separated list against that section of the INI text.
inline void ExpectEntries(const std::string& text, const char* section, const std::string& list) {
    std::istringstream items(list);
    for (std::string item; items >> item;) {
        const size_t eq = item.find('=');
        EXPECT_EQ(Entry(text, section, item.substr(0, eq).c_str()), item.substr(eq + 1))
            << "[" << section << "] " << item;
    }
}

} // namespace vyx::test
