// Process detach: the remaining sockets are closed and reported before the goodbye, and no
// cleanup arriving meanwhile tears down a second time.
#include "LayerHarness.h"
#include "Channel.h"
#include "Entries.h"
#include "ProcessLifetime.h"

class DetachTest : public LayerTest {
protected:
    void SetUp() override
    {
        LayerTest::SetUp();
        ASSERT_TRUE(viewer.Open(Medium, FILETIME{}, false));
        viewer.SetPolicy(ReplyPolicy::AcceptAll);
        TraceTo(viewer, Medium);
    }
    void TearDown() override
    {
        // Detach deleted the locks; make them again for the tests that follow.
        if (detaching) {
            detaching = 0;
            InitializeProcessLocks();
        }
        LayerTest::TearDown();
        viewer.Close();
    }
    // As at process termination: the reserved argument is not null.
    void DetachAtExit() { ProcessDetach(reinterpret_cast<void*>(1)); }
    ViewerStandIn viewer;
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
