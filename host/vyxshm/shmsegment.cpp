#include "host/vyxshm/shmsegment.h"

bool ShmSegment_IsValidName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

std::string ShmSegment_Name(const std::string& typed) {
    return !typed.empty() && typed[0] == '/' ? typed.substr(1) : typed;
}
