#include "msl/mipc/mnamedevent.h"

#include "msl/mipc/mipcos.h"
#include "msl/mipc/mnamedevent_internal.h"
#include "msl/mutil/stlstring.h"
#include "platform/trace/merrtrace.h"

namespace os = msl::ipcos;

namespace {

thread_local int lastError = 0;

} // namespace

int MNamedEvent_Fail(int error) {
    lastError = error;
    return error;
}

bool MNamedEvent_CheckName(const char* operation, const char* name) {
    if (name == nullptr || *name == '\0') {
        MERRTRACE("%s(): name == \"\"", operation);
        MNamedEvent_Fail(os::InvalidObjectError());
        return false;
    }
    if (const char* problem = os::SegmentNameProblem(name)) {
        MERRTRACE("%s(): invalid name \"%.40s\": %s", operation, stl_escape_name(name).c_str(),
                  problem);
        MNamedEvent_Fail(os::InvalidObjectError());
        return false;
    }
    return true;
}

int MNamedEvent_GetLastError() {
    return lastError;
}
