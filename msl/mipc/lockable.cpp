#include "msl/mipc/lockable.h"

namespace varn {

Lockable::~Lockable() = default;

} // namespace varn
