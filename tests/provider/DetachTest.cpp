// Process detach: the remaining sockets are closed and reported before the goodbye, and no
// cleanup arriving meanwhile tears down a second time.
#include "LayerHarness.h"
#include "Channel.h"
#include "Entries.h"
#include "ProcessLifetime.h"
#include "SocketContext.h"
#include <thread>

class DetachTest : public ViewerLayerTest {
protected:
    void SetUp() override
    {
        ViewerLayerTest::SetUp();
        TraceTo(viewer, Medium);
    }
    void TearDown() override
    {
        // Detach deleted the locks; make them again for the tests that follow.
        if (detaching) {
            detaching = 0;
            InitializeProcessLocks();
        }
        ViewerLayerTest::TearDown();
    }
    // As at process termination: the reserved argument is not null.
    void DetachAtExit() { ProcessDetach(reinterpret_cast<void*>(1)); }
};

TEST_F(DetachTest, OpenSocketsAreReportedClosedBeforeTheGoodbye)
{
    ASSERT_EQ(0, StartLayer(&table));
    SOCKET tcp = WSPSocket(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, 0, &error);
    SOCKET udp = WSPSocket(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, 0, &error);
    viewer.ClearRecords();
    DetachAtExit();
    auto texts = TextsOf(viewer.Records());
    std::vector<std::string> expected = {
        "detaching from process, socket (" + std::to_string(tcp) +
            ") closed; bytes received=0, bytes sent=0",
        "detaching from process, socket (" + std::to_string(udp) +
            ") closed; bytes received=0, bytes sent=0",
        "process detached",
    };
    EXPECT_EQ(expected, texts);
    EXPECT_EQ(3, base->cleanupCalls);
    EXPECT_EQ(nullptr, providerTable);
    EXPECT_EQ(nullptr, viewerWindow);
    EXPECT_EQ(nullptr, channelHeap);
    EXPECT_EQ(0, WSPCleanup(&error)) << "a cleanup during detach is ignored";
}

TEST_F(DetachTest, AfterBalancedCleanupsOnlyTheGoodbyeIsSent)
{
    ASSERT_EQ(0, StartLayer(&table));
    ASSERT_EQ(0, StartLayer(&table));
    ASSERT_EQ(0, WSPCleanup(&error));
    ASSERT_EQ(0, WSPCleanup(&error));
    viewer.ClearRecords();
    DetachAtExit();
    EXPECT_EQ(std::vector<std::string>{"process detached"}, TextsOf(viewer.Records()));
}

TEST_F(DetachTest, UntracedProcessSendsNothingAtDetach)
{
    ASSERT_EQ(0, StartLayer(&table));
    WSPSocket(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, 0, &error);
    StopTracing();
    viewer.ClearRecords();
    DetachAtExit();
    EXPECT_TRUE(viewer.Records().empty());
    EXPECT_EQ(1, base->closeCalls) << "the socket is still closed below";
}

// The last cleanup while a call is still inside a socket (a thread blocked in recv): the socket
// is closed under the call, but its context lives until the call's own release.
TEST_F(DetachTest, LastCleanupLeavesAContextInUseToItsCall)
{
    ASSERT_EQ(0, StartLayer(&table));
    SOCKET busy = WSPSocket(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, 0, &error);
    SOCKET idle = WSPSocket(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, 0, &error);
    SocketContext* inside = FindContext(busy, &error);   // the running call's reference
    ASSERT_NE(nullptr, inside);
    viewer.ClearRecords();
    HANDLE cleanedUp = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::thread cleaner([&] {
        int cleanupError = 0;
        WSPCleanup(&cleanupError);
        SetEvent(cleanedUp);
    });
    EXPECT_TRUE(viewer.WaitForRecords(2, 5000)) << "both sockets closed below and reported";
    EXPECT_FALSE(IsHandleOpen(idle)) << "a context nobody uses goes at once";
    EXPECT_TRUE(IsHandleOpen(busy));
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(cleanedUp, 200)) << "the cleanup waits for the call";
    EXPECT_EQ(INVALID_SOCKET, inside->lowerSocket);
    EXPECT_EQ(0, base->cleanupCalls) << "nothing below is cleaned up while the call is inside";
    int releaseError = 0;
    ReleaseContext(inside, &releaseError);   // the call returns
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(cleanedUp, 5000));
    cleaner.join();
    CloseHandle(cleanedUp);
    EXPECT_FALSE(IsHandleOpen(busy)) << "closed by the call's final release";
    EXPECT_EQ(nullptr, providerTable);
    const int chains = 3;   // TCP, UDP and TCP over IPv6, all over fakelower.dll
    EXPECT_EQ(chains, base->cleanupCalls) << "each chain's provider below cleaned up once the call left";
}

// A viewer that stops answering holds up the thread whose record it keeps, but never a thread
// that only looks a socket up.
TEST_F(DetachTest, AViewerThatStopsAnsweringStallsNoLookup)
{
    ASSERT_EQ(0, StartLayer(&table));
    SOCKET first = WSPSocket(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, 0, &error);
    WSPSocket(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, 0, &error);
    HANDLE answer = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE stalled = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    viewer.SetRecordHook([&](const Record& record) {
        if (record.Kind() == RecordSocketClosed) {
            SetEvent(stalled);
            WaitForSingleObject(answer, 10000);   // the viewer hangs on the teardown's record
        }
    });
    std::thread cleaner([&] {
        int cleanupError = 0;
        WSPCleanup(&cleanupError);
    });
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(stalled, 5000));
    HANDLE lookedUp = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::thread lookup([&] {
        int lookupError = 0;
        SocketContext* context = FindContext(first, &lookupError);   // gone by now
        if (context)
            ReleaseContext(context, &lookupError);
        SetEvent(lookedUp);
    });
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(lookedUp, 2000))
        << "the lookup waited for the viewer";
    SetEvent(answer);
    lookup.join();
    cleaner.join();
    viewer.SetRecordHook(nullptr);
    for (HANDLE event : {answer, stalled, lookedUp})
        CloseHandle(event);
}
