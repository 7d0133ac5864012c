#include "msl/merror/merrtracecontext.h"
#include "platform/trace/merrtrace.h"

#include <gtest/gtest.h>

// The support library's error-trace scope nests and unwinds with its owner.
TEST(MErrTraceContext, OpensAndClosesOneLevel) {
    int before = MErrTrace_GetDepth();
    {
        MErrTraceContext outer(__FILE__);
        MErrTraceContext inner(__FILE__);
        EXPECT_EQ(MErrTrace_GetDepth(), before + 2);
    }
    EXPECT_EQ(MErrTrace_GetDepth(), before);
}
