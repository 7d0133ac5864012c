// The main of every test executable: GoogleTest, unless the process was started as the child of
// a cross-process test.
#include "tests/support/childprocess.h"
#ifdef VYX_TEST_PRIVATE_NETWORK
#include "tests/support/fakegigecamera.h"
#endif

#include <gmock/gmock.h>

int main(int argc, char** argv) {
    int status = 0;
    if (vyx::test::RunChildIfAsked(argc, argv, &status))
        return status;
#ifdef VYX_TEST_PRIVATE_NETWORK
    // Before any thread: the GigE test camera and its clients on a loopback no other program
    // shares (children of cross-process tests inherit it).
    vyx::test::FakeGigECamera::UsePrivateNetwork();
#endif
    testing::InitGoogleMock(&argc, argv);
    return RUN_ALL_TESTS();
}
