// Windows keeps no list of the processes that map a section that a program may read.
#include "msl/mipc/mshmmappers.h"

bool MShmMappers_Scan(bool, const std::function<void(long, const MShmSegmentId&)>&, int*,
                      std::string* why) {
    *why = "Windows does not tell which processes map a segment";
    return false;
}

std::string MShmMappers_Command(long) {
    return "?";
}
