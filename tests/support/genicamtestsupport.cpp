#include "tests/support/genicamtestsupport.h"

namespace vyx::test {

bool GenicamBuilt() {
#if defined(VYX_HAVE_GENICAM)
    return true;
#else
    return false;
#endif
}

std::string GenicamIni(const std::string& device, const std::string& extra) {
    return "[GenICam]\ndevice = " + device +
           "\npixel_width_mm = 0.0055\npixel_height_mm = 0.0055\n" + extra;
}

} // namespace vyx::test
