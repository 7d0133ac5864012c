#pragma once
// Channels of a sensor: the named quantities the protocol reads and writes (its axes).
//
// A description is kept by value, so the table can be copied out and compared as a whole.
// Names and links are cut to 31 characters like the configuration data's names.

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

// Access codes, from the letters of the key "Access".
constexpr uint32_t CSENSOR_ACCESS_R = 0;
constexpr uint32_t CSENSOR_ACCESS_W = 1;
constexpr uint32_t CSENSOR_ACCESS_RW = 2;
constexpr uint32_t CSENSOR_ACCESS_B = 3;
constexpr uint32_t CSENSOR_ACCESS_I = 4; // internal: never clamped, never passed to a sibling
constexpr uint32_t CSENSOR_ACCESS_D = 5; // disabled, and every unknown text

// Description flags.
constexpr uint16_t CSENSOR_FLAG_COMPONENT = 0x0001; // "Type" is "COMPONENT"
constexpr uint16_t CSENSOR_FLAG_TARGET = 0x0002;    // "Move" is "TARGET"

// Longest channel name kept.
constexpr size_t CSENSOR_NAME_MAX = 31;

struct CSensorChannelDesc {
    uint16_t flags = 0;
    uint32_t access = 0;
    char name[CSENSOR_NAME_MAX + 1] = {};
    double min = 0.0;
    double max = 0.0;
    double step = 0.0;
    double accuracy = 0.0;
    double a_max = 0.0;
    double v_max = 0.0;
    double default_value = 0.0;
    uint8_t keypad = 0;
    uint8_t master = 0;
    uint8_t update_in_clock = 0;
    uint8_t is_child = 0;
    // Child: its parent. Parent: its (last) child. "Parent" naming the channel itself: itself.
    char link[CSENSOR_NAME_MAX + 1] = {};

    void SetName(std::string_view text);
    void SetLink(std::string_view text);
    bool HasLink() const { return link[0] != '\0'; }
    bool IsLinkedToItself() const;

    bool operator==(const CSensorChannelDesc& other) const = default;
};

// Ordered by plain byte comparison of the names; the position in this order is the index.
using CSensorChannelTable = std::map<std::string, CSensorChannelDesc>;

// "R" 0, "W" 1, "RW" 2, "B" 3, "I" 4; anything else 5.
uint32_t CSensor_AccessCodeFromLetters(std::string_view letters);

// The channel names of a [General] "Channels" value, in list order. The value is split at
// every comma first; each item then loses all its white space and ends at ';' or at a "//" or
// "/*" comment, so "a,b // was: c,d" names a, b and d. Empty items are dropped, long names are
// cut to 31 characters.
std::vector<std::string> CSensor_SplitChannelList(std::string_view value);
