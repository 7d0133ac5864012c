// The main of every test executable: GoogleTest, unless the process was started as the child of
// a cross-process test.
#include "tests/support/childprocess.h"

#include <gmock/gmock.h>

int main(int argc, char** argv) {
    int status = 0;
    if (vyx::test::RunChildIfAsked(argc, argv, &status))
        return status;
    testing::InitGoogleMock(&argc, argv);
    return RUN_ALL_TESTS();
}
