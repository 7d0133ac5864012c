#include "msl/mipc/mnamedevent.h"
#include "platform/trace/tracecapture.h"
#include "tests/msl/crossprocess.h"
#include "tests/support/testsupport.h"

#include <cerrno>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>

using vyx::test::PathExists;
using vyx::test::ReadFileBytes;
using vyx::test::UniqueName;

TEST(NamedEvent, SignalResetAndWaitWorkOnTheSharedWord) {
    std::string name = UniqueName("preview") + ".event";
    const std::string path = "/dev/shm/" + name;
    MNamedEvent* event = MNamedEvent_Create(name.c_str());
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(ReadFileBytes(path), std::string("VEVT") + std::string(60, '\0'));
    EXPECT_EQ(MNamedEvent_Wait(event, 0), 0);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(MNamedEvent_Wait(event, 30), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));

    EXPECT_EQ(MNamedEvent_Signal(event), 1);
    EXPECT_EQ(ReadFileBytes(path).substr(0, 8), std::string("VEVT\1\0\0\0", 8));
    EXPECT_EQ(MNamedEvent_Wait(event, 0), 1);
    EXPECT_EQ(MNamedEvent_Wait(event, kMNamedEventInfinite), 1) << "manual reset: stays set";
    // A second handle shares the state, and creating an existing event opens it as it is.
    MNamedEvent* again = MNamedEvent_Create(name.c_str());
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(MNamedEvent_Wait(again, 0), 1);
    EXPECT_EQ(MNamedEvent_Reset(again), 1);
    EXPECT_EQ(MNamedEvent_Wait(event, 0), 0);
    EXPECT_EQ(MNamedEvent_Close(again), 1);
    EXPECT_TRUE(PathExists(path)) << "only the creator removes the name";
    EXPECT_EQ(MNamedEvent_Close(event), 1);
    EXPECT_FALSE(PathExists(path));
}

TEST(NamedEvent, OpenRefusesMissingAndForeignObjects) {
    vyx::trace::TraceCapture capture;
    std::string missing = UniqueName("nothing");
    EXPECT_EQ(MNamedEvent_Open(missing.c_str()), nullptr);
    EXPECT_EQ(MNamedEvent_GetLastError(), ENOENT);
    EXPECT_EQ(MNamedEvent_Open("a/b"), nullptr);
    EXPECT_EQ(MNamedEvent_Create(""), nullptr);
    vyx::test::RawSegment foreign("segment", 4096); // zero bytes: no magic
    ASSERT_NE(foreign.bytes, nullptr);
    EXPECT_EQ(MNamedEvent_Open(foreign.name.c_str()), nullptr);
    EXPECT_EQ(MNamedEvent_Create(foreign.name.c_str()), nullptr);
    EXPECT_EQ(foreign.Bytes(), std::string(4096, '\0')) << "someone else's object is left alone";
    EXPECT_EQ(MNamedEvent_Wait(nullptr, 0), -1);
    EXPECT_EQ(capture.ErrTrace(),
              (std::vector<std::string>{
                  "MNamedEvent_Open(): cannot open \"" + missing + "\" (2)",
                  "MNamedEvent_Open(): invalid name \"a/b\": contains '/'",
                  "MNamedEvent_Create(): name == \"\"",
                  "MNamedEvent_Open(): \"" + foreign.name + "\" is not an event (22)",
                  "MNamedEvent_Create(): \"" + foreign.name + "\" is not an event (22)",
                  "MNamedEvent_Wait(): NULL event"}));
}

TEST(NamedEventConcurrency, SignalWakesAWaiterInAnotherProcess) {
    std::string name = UniqueName("preview") + ".event";
    vyx::test::Pipe go, back;
    vyx::test::ChildProcess client([&] {
        char byte;
        MNamedEvent* event = go.Receive(&byte) ? MNamedEvent_Open(name.c_str()) : nullptr;
        if (event == nullptr)
            return 1;
        back.Send('w');
        // Far longer than the test waits: a missing wake-up shows as a time-out.
        if (MNamedEvent_Wait(event, 60000) != 1)
            return 2;
        MNamedEvent_Reset(event);
        back.Send('r');
        return MNamedEvent_Close(event) == 1 ? 0 : 3;
    });
    MNamedEvent* event = MNamedEvent_Create(name.c_str());
    ASSERT_NE(event, nullptr);
    go.Send('g');
    char byte;
    ASSERT_TRUE(back.Receive(&byte));
    ASSERT_TRUE(client.WaitUntilSleeping()) << "the client never blocked";
    ASSERT_EQ(MNamedEvent_Signal(event), 1);
    ASSERT_TRUE(back.Receive(&byte));
    EXPECT_EQ(MNamedEvent_Wait(event, 0), 0) << "the client's reset is seen here";
    EXPECT_EQ(client.Wait(), 0);
    EXPECT_TRUE(PathExists("/dev/shm/" + name)) << "the client does not remove our name";
    EXPECT_EQ(MNamedEvent_Close(event), 1);
}

TEST(NamedEventConcurrency, SignalReleasesEveryWaitingThread) {
    MNamedEvent* event = MNamedEvent_Create(UniqueName("event").c_str());
    ASSERT_NE(event, nullptr);
    int payload = 0;
    int seen[3] = {0, 0, 0};
    std::vector<std::thread> waiters;
    for (int& slot : seen)
        waiters.emplace_back([&] {
            if (MNamedEvent_Wait(event, kMNamedEventInfinite) == 1)
                slot = payload; // published by the signal
        });
    payload = 42;
    MNamedEvent_Signal(event);
    for (std::thread& waiter : waiters)
        waiter.join();
    EXPECT_EQ(seen[0] + seen[1] + seen[2], 3 * 42);
    EXPECT_EQ(MNamedEvent_Close(event), 1);
}
