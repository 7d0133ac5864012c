#include "msl/mipc/mnamedevent.h"
#include "platform/trace/tracecapture.h"
#include "tests/support/childprocess.h"
#include "tests/support/rawsegment.h"
#include "tests/support/testsupport.h"

#include <cerrno>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#endif

using vyx::test::ReadFileBytes;
using vyx::test::UniqueName;

namespace {

#if defined(_WIN32)
// What the system answers for a name that belongs to an object of another kind.
constexpr int kNotAnEvent = ERROR_INVALID_HANDLE;

bool EventExists(const std::string& name) {
    HANDLE event = OpenEventA(SYNCHRONIZE, FALSE, name.c_str());
    if (event != nullptr)
        CloseHandle(event);
    return event != nullptr;
}
#else
constexpr int kNotAnEvent = EINVAL;
const auto EventExists = vyx::test::SegmentExists;
#endif

} // namespace

TEST(NamedEventConcurrency, SignalResetAndWaitShareOneStateBetweenHandlesAndThreads) {
    std::string name = UniqueName("preview") + ".event";
    MNamedEvent* event = MNamedEvent_Create(name.c_str());
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(MNamedEvent_Wait(event, 0), 0);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(MNamedEvent_Wait(event, 30), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));

    // One signal releases every waiting thread.
    int payload = 0;
    int seen[3] = {0, 0, 0};
    std::vector<std::thread> waiters;
    for (int& slot : seen)
        waiters.emplace_back([&] {
            if (MNamedEvent_Wait(event, kMNamedEventInfinite) == 1)
                slot = payload; // published by the signal
        });
    payload = 42;
    EXPECT_EQ(MNamedEvent_Signal(event), 1);
    for (std::thread& waiter : waiters)
        waiter.join();
    EXPECT_EQ(seen[0] + seen[1] + seen[2], 3 * 42);
    EXPECT_EQ(MNamedEvent_Wait(event, 0), 1);
    EXPECT_EQ(MNamedEvent_Wait(event, kMNamedEventInfinite), 1) << "manual reset: stays set";
    // A second handle shares the state, and creating an existing event opens it as it is.
    MNamedEvent* again = MNamedEvent_Create(name.c_str());
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(MNamedEvent_Wait(again, 0), 1);
    EXPECT_EQ(MNamedEvent_Reset(again), 1);
    EXPECT_EQ(MNamedEvent_Wait(event, 0), 0);
    EXPECT_EQ(MNamedEvent_Close(again), 1);
    EXPECT_TRUE(EventExists(name)) << "only the creator's close removes the event";
    EXPECT_EQ(MNamedEvent_Close(event), 1);
    EXPECT_FALSE(EventExists(name));
}

#if defined(_WIN32)
TEST(NamedEvent, IsANamedWindowsEventThatClientsUseDirectly) {
    std::string name = UniqueName("preview") + ".event";
    MNamedEvent* event = MNamedEvent_Create(name.c_str());
    ASSERT_NE(event, nullptr);
    HANDLE client = OpenEventA(EVENT_MODIFY_STATE | SYNCHRONIZE, FALSE, name.c_str());
    ASSERT_NE(client, nullptr) << GetLastError();
    EXPECT_EQ(WaitForSingleObject(client, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    ASSERT_EQ(MNamedEvent_Signal(event), 1);
    EXPECT_EQ(WaitForSingleObject(client, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(client, 0), WAIT_OBJECT_0) << "manual reset: stays set";
    ASSERT_TRUE(ResetEvent(client)); // the client took the image
    EXPECT_EQ(MNamedEvent_Wait(event, 0), 0);
    ASSERT_TRUE(SetEvent(client));
    EXPECT_EQ(MNamedEvent_Wait(event, 0), 1);
    CloseHandle(client);
    EXPECT_EQ(MNamedEvent_Close(event), 1);
}
#else
TEST(NamedEvent, StateIsTheSharedWordThatClientsUseDirectly) {
    std::string name = UniqueName("preview") + ".event";
    const std::string path = "/dev/shm/" + name;
    MNamedEvent* event = MNamedEvent_Create(name.c_str());
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(ReadFileBytes(path), std::string("VEVT") + std::string(60, '\0'));
    EXPECT_EQ(MNamedEvent_Signal(event), 1);
    EXPECT_EQ(ReadFileBytes(path).substr(0, 8), std::string("VEVT\1\0\0\0", 8));
    EXPECT_EQ(MNamedEvent_Reset(event), 1);
    EXPECT_EQ(ReadFileBytes(path).substr(0, 8), std::string("VEVT\0\0\0\0", 8));
    EXPECT_EQ(MNamedEvent_Close(event), 1);
}
#endif

TEST(NamedEvent, OpenRefusesMissingAndForeignObjects) {
    vyx::trace::TraceCapture capture;
    std::string missing = UniqueName("nothing");
    EXPECT_EQ(MNamedEvent_Open(missing.c_str()), nullptr);
    EXPECT_EQ(MNamedEvent_GetLastError(), ENOENT); // ERROR_FILE_NOT_FOUND on Windows
    EXPECT_EQ(MNamedEvent_Open("a/b"), nullptr);
    EXPECT_EQ(MNamedEvent_Create(""), nullptr);
    vyx::test::RawSegment foreign("segment", 4096); // zero bytes: no magic
    ASSERT_NE(foreign.bytes, nullptr);
    EXPECT_EQ(MNamedEvent_Open(foreign.name.c_str()), nullptr);
    EXPECT_EQ(MNamedEvent_Create(foreign.name.c_str()), nullptr);
    EXPECT_EQ(MNamedEvent_GetLastError(), kNotAnEvent);
    EXPECT_EQ(foreign.Bytes(), std::string(4096, '\0')) << "someone else's object is left alone";
    EXPECT_EQ(MNamedEvent_Wait(nullptr, 0), -1);
    const std::string notAnEvent = "\" is not an event (" + std::to_string(kNotAnEvent) + ")";
    EXPECT_EQ(capture.ErrTrace(),
              (std::vector<std::string>{"MNamedEvent_Open(): cannot open \"" + missing + "\" (2)",
                                        "MNamedEvent_Open(): invalid name \"a/b\": contains '/'",
                                        "MNamedEvent_Create(): name == \"\"",
                                        "MNamedEvent_Open(): \"" + foreign.name + notAnEvent,
                                        "MNamedEvent_Create(): \"" + foreign.name + notAnEvent,
                                        "MNamedEvent_Wait(): NULL event"}));
}

VYX_TEST_CHILD(WaitForNamedEvent) {
    vyx::test::Pipe back(args.at(1));
    MNamedEvent* event = MNamedEvent_Open(args.at(0).c_str());
    if (event == nullptr)
        return 1;
    back.Send('w');
    // Far longer than the test waits: a missing wake-up shows as a time-out.
    if (MNamedEvent_Wait(event, 60000) != 1)
        return 2;
    MNamedEvent_Reset(event);
    back.Send('r');
    return MNamedEvent_Close(event) == 1 ? 0 : 3;
}

TEST(NamedEventConcurrency, SignalWakesAWaiterInAnotherProcess) {
    std::string name = UniqueName("preview") + ".event";
    MNamedEvent* event = MNamedEvent_Create(name.c_str());
    ASSERT_NE(event, nullptr);
    vyx::test::Pipe back;
    vyx::test::ChildProcess client("WaitForNamedEvent", {name, back.Token()});
    char byte;
    ASSERT_TRUE(back.Receive(&byte));
#if !defined(_WIN32)
    // Only Linux tells whether the client already blocks; on Windows the signal may also come
    // before the wait, which the kernel's event answers the same way.
    ASSERT_TRUE(client.WaitUntilSleeping()) << "the client never blocked";
#endif
    ASSERT_EQ(MNamedEvent_Signal(event), 1);
    ASSERT_TRUE(back.Receive(&byte));
    EXPECT_EQ(MNamedEvent_Wait(event, 0), 0) << "the client's reset is seen here";
    EXPECT_EQ(client.Wait(), 0);
    EXPECT_TRUE(EventExists(name)) << "the client does not remove our event";
    EXPECT_EQ(MNamedEvent_Close(event), 1);
}
