// The overlapped operation manager with the fake lower provider. The fake's sockets are not
// kernel handles, so the completion port refuses them and their operations run through the
// queue worker with completion routines: the path every refused socket takes, and, with the
// port not allowed, queue mode's only one.
#include "LayerHarness.h"
#include "Channel.h"
#include "Entries.h"
#include "Formatting.h"
#include "OverlappedManager.h"
#include "SocketContext.h"
#include <cstring>
#include <functional>
#include <thread>

class OverlappedTest : public ViewerLayerTest {
protected:
    void SetUp() override
    {
        ViewerLayerTest::SetUp();
        DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(),
                        &self.ThreadHandle, 0, FALSE, DUPLICATE_SAME_ACCESS);
        self.Reserved = GetCurrentThreadId();
        Begin(TRUE);
    }
    void TearDown() override
    {
        ViewerLayerTest::TearDown();
        CloseHandle(self.ThreadHandle);
        for (HANDLE event : events)
            CloseHandle(event);
    }
    // A fresh start-up of a traced process, with or without the completion port.
    void Begin(BOOL portAllowed)
    {
        CleanUpLayer();
        AllowCompletionPort(portAllowed);
        TraceTo(viewer, Medium);
        ASSERT_EQ(0, StartLayer(&table));
        tcp = WSPSocket(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_OVERLAPPED,
                        &error);
        ASSERT_NE(INVALID_SOCKET, tcp);
        viewer.ClearRecords();
    }
    HANDLE NewEvent(BOOL signalled = FALSE)
    {
        events.push_back(CreateEventA(nullptr, TRUE, signalled, nullptr));
        return events.back();
    }
    // Runs this thread's APCs while waiting.
    static bool WaitFor(const std::function<bool()>& condition, DWORD timeout = 5000)
    {
        for (DWORD start = GetTickCount(); !condition();) {
            if (GetTickCount() - start > timeout)
                return false;
            SleepEx(5, TRUE);
        }
        return true;
    }
    bool WaitForPending(LONG count)
    {
        return WaitFor([&] { return base->pendingCount >= count; });
    }
    std::vector<std::string> Texts() { return TextsOf(viewer.Records()); }

    WSATHREADID self = {};
    SOCKET tcp = INVALID_SOCKET;
    std::vector<HANDLE> events;
};

TEST_F(OverlappedTest, ReceiveIsReportedAndCountedOnlyAtCompletion)
{
    TraceTo(viewer, High);
    memcpy(base->data, "hello", 5);
    base->dataLength = 5;
    base->receiveFlags = MSG_PARTIAL;
    char space[8];
    WSABUF buffers[1] = {{8, space}};
    WSAOVERLAPPED overlapped = {};
    overlapped.hEvent = NewEvent(TRUE);
    DWORD flags = 0;
    error = static_cast<int>(0xdeadbeef);
    EXPECT_EQ(SOCKET_ERROR, table.lpWSPRecv(tcp, buffers, 1, nullptr, &flags, &overlapped,
                                            nullptr, &self, &error));
    EXPECT_EQ(WSA_IO_PENDING, error);
    buffers[0].len = 0;   // the caller may drop its array once the call has returned
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(overlapped.hEvent, 0)) << "the event is reset";
    EXPECT_EQ(std::vector<std::string>{"socket (" + N(tcp) + ") receiving data asynchronously [len=8]"},
              Texts());
    DWORD transferred = 0xdeadbeef, resultFlags = 0xdeadbeef;
    EXPECT_FALSE(table.lpWSPGetOverlappedResult(tcp, &overlapped, &transferred, FALSE,
                                                &resultFlags, &error));
    EXPECT_EQ(WSA_IO_INCOMPLETE, error);
    ASSERT_TRUE(WaitForPending(1));
    EXPECT_NE(&overlapped, base->pending[0].overlapped) << "the provider below gets the layer's own";
    EXPECT_EQ(nullptr, base->pending[0].overlapped->hEvent);
    EXPECT_EQ(0u, ContextOf(tcp)->bytesReceived);

    ASSERT_TRUE(completeBase(0, 0));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(overlapped.hEvent, 5000));
    auto records = viewer.Records();
    ASSERT_EQ(2u, records.size());
    EXPECT_EQ("socket (" + N(tcp) + ") received 5 bytes of data", records[1].Text());
    EXPECT_EQ(RecordDataReceived, records[1].Kind());
    EXPECT_EQ(17u, records[1].PayloadLength()) << "the bytes, read through the kept array";
    EXPECT_EQ(5u, ContextOf(tcp)->bytesReceived);
    EXPECT_EQ(tcp, fakeUpcalls.completedSocket);
    EXPECT_EQ(&overlapped, fakeUpcalls.completedOverlapped);
    EXPECT_TRUE(table.lpWSPGetOverlappedResult(tcp, &overlapped, &transferred, TRUE, &resultFlags,
                                               &error));
    EXPECT_EQ(5u, transferred);
    EXPECT_EQ(static_cast<DWORD>(MSG_PARTIAL), resultFlags);
    EXPECT_EQ(0, error);
    // The request is completed before the record's end on its socket.
    EXPECT_TRUE(WaitFor([&] { return ContextOf(tcp)->pendingAsync == 0; }));
}

TEST_F(OverlappedTest, SendThatFailsAtCompletionCompletesTheRequestWithItsError)
{
    char data[] = "abc";
    WSABUF buffer = {3, data};
    WSAOVERLAPPED overlapped = {};
    overlapped.hEvent = NewEvent();
    EXPECT_EQ(SOCKET_ERROR, table.lpWSPSend(tcp, &buffer, 1, nullptr, 0, &overlapped, nullptr,
                                            &self, &error));
    ASSERT_TRUE(WaitForPending(1));
    ASSERT_TRUE(completeBase(0, WSAECONNRESET));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(overlapped.hEvent, 5000));
    char scratch[32];
    EXPECT_EQ((std::vector<std::string>{
                  "socket (" + N(tcp) + ") sending data asynchronously [len=3]",
                  "socket (" + N(tcp) + ") could not send data - " +
                      ErrorText(WSAECONNRESET, scratch),
              }),
              Texts());
    EXPECT_EQ(0u, ContextOf(tcp)->bytesSent);
    EXPECT_EQ(WinsockErrorStatus(WSAECONNRESET), overlapped.Internal)
        << "the error in a status the system reads back";
    EXPECT_EQ(WinsockErrorStatus(WSAECONNRESET), fakeUpcalls.completedError);
    EXPECT_EQ(0u, overlapped.Offset) << "the application's own";
    DWORD transferred = 0, flags = 0;
    EXPECT_FALSE(table.lpWSPGetOverlappedResult(tcp, &overlapped, &transferred, FALSE, &flags,
                                                &error));
    EXPECT_EQ(WSAECONNRESET, error);
}

TEST_F(OverlappedTest, CloseWithTwoPendingFinishesWithTheLastCompletion)
{
    base->dataLength = 3;
    char one[4], two[4];
    WSABUF first = {4, one}, second = {4, two};
    WSAOVERLAPPED a = {}, b = {};
    a.hEvent = NewEvent();
    b.hEvent = NewEvent();
    DWORD flags = 0;
    table.lpWSPRecv(tcp, &first, 1, nullptr, &flags, &a, nullptr, &self, &error);
    table.lpWSPRecv(tcp, &second, 1, nullptr, &flags, &b, nullptr, &self, &error);
    ASSERT_TRUE(WaitForPending(2));
    viewer.ClearRecords();
    EXPECT_EQ(0, table.lpWSPCloseSocket(tcp, &error));
    EXPECT_EQ(std::vector<std::string>{"socket (" + N(tcp) +
                                       ") will be closed when outstanding asynchronous calls finish"},
              Texts());
    EXPECT_NE(RecordSocketClosed, viewer.Records()[0].Kind());

    ASSERT_TRUE(completeBase(0, 0));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(a.hEvent, 5000));
    EXPECT_TRUE(IsHandleOpen(tcp)) << "one operation is still pending";
    ASSERT_TRUE(completeBase(1, 0));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(b.hEvent, 5000));
    ASSERT_TRUE(viewer.WaitForRecords(4, 5000));
    EXPECT_FALSE(IsHandleOpen(tcp));
    auto records = viewer.Records();
    ASSERT_EQ(4u, records.size());
    EXPECT_EQ("socket (" + N(tcp) + ") received 3 bytes of data", records[1].Text());
    EXPECT_EQ("socket (" + N(tcp) + ") received 3 bytes of data", records[2].Text());
    EXPECT_EQ("async calls finished, socket (" + N(tcp) + ") closed; bytes received=6, bytes sent=0",
              records[3].Text());
    EXPECT_EQ(RecordSocketClosed, records[3].Kind());
    EXPECT_EQ(static_cast<DWORD>(tcp), records[3].Word(1));
    EXPECT_EQ(nullptr, providerTable[0].sockets) << "the context is unlinked and freed";
}

struct RoutineCall {
    int calls;
    DWORD thread, error, bytes, flags;
    LPWSAOVERLAPPED overlapped;
};
static RoutineCall routineCall;

static void CALLBACK CountRoutine(DWORD error, DWORD bytes, LPWSAOVERLAPPED overlapped,
                                  DWORD flags)
{
    routineCall.calls++;
    routineCall.thread = GetCurrentThreadId();
    routineCall.error = error;
    routineCall.bytes = bytes;
    routineCall.flags = flags;
    routineCall.overlapped = overlapped;
}

TEST_F(OverlappedTest, CompletionRoutineRunsOnceInTheIssuingThread)
{
    routineCall = RoutineCall{};
    base->dataLength = 2;
    base->receiveFlags = MSG_PARTIAL;
    char space[4];
    WSABUF buffer = {4, space};
    WSAOVERLAPPED overlapped = {};
    overlapped.hEvent = NewEvent();
    DWORD flags = 0;
    EXPECT_EQ(SOCKET_ERROR, table.lpWSPRecv(tcp, &buffer, 1, nullptr, &flags, &overlapped,
                                            CountRoutine, &self, &error));
    EXPECT_EQ(WSA_IO_PENDING, error);
    ASSERT_TRUE(WaitForPending(1));
    ASSERT_TRUE(completeBase(0, 0));
    ASSERT_TRUE(WaitFor([] { return routineCall.calls > 0; }));
    SleepEx(50, TRUE);
    EXPECT_EQ(1, routineCall.calls);
    EXPECT_EQ(GetCurrentThreadId(), routineCall.thread);
    EXPECT_EQ(&overlapped, routineCall.overlapped);
    EXPECT_EQ(0u, routineCall.error);
    EXPECT_EQ(2u, routineCall.bytes);
    EXPECT_EQ(static_cast<DWORD>(MSG_PARTIAL), routineCall.flags);
    EXPECT_EQ(0, fakeUpcalls.completions) << "the routine, not the upcall, completes the request";
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(overlapped.hEvent, 0));
    EXPECT_EQ(2u, ContextOf(tcp)->bytesReceived);
}

TEST_F(OverlappedTest, QueueModeRunsOperationsInIssueOrderOnOneWorker)
{
    Begin(FALSE);
    EXPECT_EQ(nullptr, completionPort);
    EXPECT_EQ(0, workerCount);
    ASSERT_NE(nullptr, queueWorker);
    base->completeAtOnce = TRUE;
    const int count = 5;
    char data[count];
    WSABUF buffers[count];
    WSAOVERLAPPED overlapped[count] = {};
    for (int i = 0; i < count; i++) {
        data[i] = static_cast<char>('1' + i);
        buffers[i] = {1, &data[i]};
        overlapped[i].hEvent = NewEvent();
        table.lpWSPSend(tcp, &buffers[i], 1, nullptr, 0, &overlapped[i], nullptr, &self, &error);
        EXPECT_EQ(WSA_IO_PENDING, error);
    }
    for (int i = 0; i < count; i++)
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(overlapped[i].hEvent, 5000));
    for (int i = 0; i < count; i++) {
        EXPECT_EQ('1' + i, base->callOrder[i]) << i;
        EXPECT_EQ(base->callThreads[0], base->callThreads[i]) << i;
    }
    EXPECT_NE(GetCurrentThreadId(), base->callThreads[0]);
    EXPECT_EQ(static_cast<DWORD>(count), ContextOf(tcp)->bytesSent);
}

// The handles of every worker, duplicated so that they can be waited on after the stop.
static std::vector<HANDLE> Workers()
{
    std::vector<HANDLE> workers;
    for (int i = 0; i < workerCount; i++)
        workers.push_back(workerThreads[i]);
    if (queueWorker)
        workers.push_back(queueWorker);
    for (HANDLE& worker : workers)
        DuplicateHandle(GetCurrentProcess(), worker, GetCurrentProcess(), &worker, SYNCHRONIZE,
                        FALSE, 0);
    return workers;
}

TEST_F(OverlappedTest, SecondStartCreatesNothingAndTheStopEndsEveryWorker)
{
    for (BOOL port : {TRUE, FALSE}) {
        SCOPED_TRACE(port ? "port mode" : "queue mode");
        Begin(port);
        if (port) {
            SYSTEM_INFO system;
            GetSystemInfo(&system);
            EXPECT_NE(nullptr, completionPort);
            EXPECT_EQ(static_cast<int>(system.dwNumberOfProcessors < 32 ? system.dwNumberOfProcessors
                                                                         : 32),
                      workerCount);
            // A socket the port refuses brings in the queue worker as well.
            base->completeAtOnce = TRUE;
            WSAOVERLAPPED overlapped = {};
            overlapped.hEvent = NewEvent();
            char data[1] = {'x'};
            WSABUF buffer = {1, data};
            table.lpWSPSend(tcp, &buffer, 1, nullptr, 0, &overlapped, nullptr, &self, &error);
            ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(overlapped.hEvent, 5000));
        }
        std::vector<HANDLE> workers = Workers();
        ASSERT_EQ(static_cast<size_t>(workerCount) + 1, workers.size());
        HANDLE firstWorker = port ? workerThreads[0] : queueWorker;
        HANDLE port0 = completionPort, semaphore = queueSemaphore;
        EXPECT_EQ(0, StartOverlappedManager());
        EXPECT_EQ(firstWorker, port ? workerThreads[0] : queueWorker);
        EXPECT_EQ(port0, completionPort);
        EXPECT_EQ(semaphore, queueSemaphore);
        EXPECT_EQ(workers.size(), Workers().size());

        CleanUpLayer();
        EXPECT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(workers.size(), workers.data(), TRUE, 0))
            << "every worker has ended when the last cleanup returns";
        EXPECT_EQ(nullptr, completionPort);
        EXPECT_EQ(nullptr, queueSemaphore);
        EXPECT_EQ(nullptr, queueWorker);
        for (HANDLE worker : workers)
            CloseHandle(worker);
    }
}

TEST_F(OverlappedTest, CallsRefusedBeforeTheyStart)
{
    char data[4] = "abc";
    WSABUF buffer = {3, data};
    WSAOVERLAPPED overlapped = {};
    DWORD flags = 0;
    char scratch[32];
    std::string t = N(tcp);

    // A destination longer than any socket address is refused, not cut.
    BYTE longAddress[OperationAddressLimit + 1] = {};
    reinterpret_cast<sockaddr*>(longAddress)->sa_family = AF_INET;
    error = static_cast<int>(0xdeadbeef);
    EXPECT_EQ(SOCKET_ERROR, table.lpWSPSendTo(tcp, &buffer, 1, nullptr, 0,
                                              reinterpret_cast<sockaddr*>(longAddress),
                                              sizeof(longAddress), &overlapped, nullptr, &self,
                                              &error));
    EXPECT_EQ(WSAEFAULT, error);
    // The receive flags must be readable, as Winsock requires.
    EXPECT_EQ(SOCKET_ERROR, table.lpWSPRecv(tcp, &buffer, 1, nullptr, nullptr, &overlapped,
                                            nullptr, &self, &error));
    EXPECT_EQ(WSAEFAULT, error);
    // A manager that is not running refuses overlapped calls instead of leaving them hanging.
    StopOverlappedManager();
    overlapped.Internal = 0xdeadbeef;
    EXPECT_EQ(SOCKET_ERROR, table.lpWSPRecv(tcp, &buffer, 1, nullptr, &flags, &overlapped,
                                            nullptr, &self, &error));
    EXPECT_EQ(WSAENOBUFS, error);
    EXPECT_EQ(0xdeadbeefu, overlapped.Internal) << "a call refused at once leaves it as it was";
    EXPECT_EQ(0, base->transferCalls) << "nothing reached the provider below";
    EXPECT_EQ(0, ContextOf(tcp)->pendingAsync);
    EXPECT_EQ(0, fakeUpcalls.completions);
    EXPECT_EQ((std::vector<std::string>{
                  "socket (" + t + ") sending data asynchronously [len=3]",
                  "socket (" + t + ") could not send data - " + ErrorText(WSAEFAULT, scratch),
                  "socket (" + t + ") receiving data asynchronously [len=3]",
                  "socket (" + t + ") could not receive data - " + ErrorText(WSAEFAULT, scratch),
                  "socket (" + t + ") receiving data asynchronously [len=3]",
                  "socket (" + t + ") could not receive data - " + ErrorText(WSAENOBUFS, scratch),
              }),
              Texts());
}

TEST_F(OverlappedTest, FailureOfTheQueuedCallStillCompletesTheRequest)
{
    base->transferError = WSAENETDOWN;
    char data[4] = "abc";
    WSABUF buffer = {3, data};
    WSAOVERLAPPED overlapped = {};
    overlapped.hEvent = NewEvent();
    EXPECT_EQ(SOCKET_ERROR, table.lpWSPSend(tcp, &buffer, 1, nullptr, 0, &overlapped, nullptr,
                                            &self, &error));
    EXPECT_EQ(WSA_IO_PENDING, error) << "the call below is made later, by the queue worker";
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(overlapped.hEvent, 5000));
    DWORD transferred = 0, flags = 0;
    EXPECT_FALSE(table.lpWSPGetOverlappedResult(tcp, &overlapped, &transferred, FALSE, &flags,
                                                &error));
    EXPECT_EQ(WSAENETDOWN, error);
    char scratch[32];
    EXPECT_EQ("socket (" + N(tcp) + ") could not send data - " + ErrorText(WSAENETDOWN, scratch),
              Texts().back());
    ASSERT_TRUE(WaitFor([&] { return ContextOf(tcp)->pendingAsync == 0; }));
}

// Several threads issue and close while another completes: no lock order may deadlock, and
// every socket ends closed and reported once.
TEST_F(OverlappedTest, IssuingCompletingAndClosingAtOnceNeitherDeadlocksNorLeaks)
{
    TraceTo(viewer, Low);
    const int threads = 4, rounds = 100;
    std::vector<SOCKET> sockets;
    for (int i = 0; i < threads * rounds; i++)
        sockets.push_back(WSPSocket(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                                    WSA_FLAG_OVERLAPPED, &error));
    viewer.ClearRecords();
    volatile LONG finished = 0;
    std::thread completer([&] {
        int next = 0;
        while (!finished || next < base->pendingCount) {
            if (next < base->pendingCount)
                completeBase(next++, 0);
            else
                Sleep(1);
        }
    });
    std::vector<std::thread> issuers;
    for (int t = 0; t < threads; t++) {
        issuers.emplace_back([&, t] {
            char space[2][4];
            WSABUF buffers[2] = {{4, space[0]}, {4, space[1]}};
            for (int r = 0; r < rounds; r++) {
                SOCKET s = sockets[t * rounds + r];
                WSAOVERLAPPED overlapped[2] = {};
                DWORD flags = 0;
                int callError = 0;
                for (int i = 0; i < 2; i++)
                    table.lpWSPRecv(s, &buffers[i], 1, nullptr, &flags, &overlapped[i], nullptr,
                                    nullptr, &callError);
                table.lpWSPCloseSocket(s, &callError);
                // the operations may still be running: wait before the overlapped goes
                WaitFor([&] { return overlapped[0].Internal != WSS_OPERATION_IN_PROGRESS &&
                                     overlapped[1].Internal != WSS_OPERATION_IN_PROGRESS; });
            }
        });
    }
    HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::thread watcher([&] {
        for (auto& issuer : issuers)
            issuer.join();
        SetEvent(done);
    });
    bool ended = WaitForSingleObject(done, 60000) == WAIT_OBJECT_0;
    ASSERT_TRUE(ended) << "deadlock: the issuing threads did not finish";
    watcher.join();
    InterlockedExchange(&finished, 1);
    completer.join();
    CloseHandle(done);
    ASSERT_TRUE(WaitFor([&] {
        for (SOCKET s : sockets)
            if (IsHandleOpen(s))
                return false;
        return true;
    }));
    int contexts = 0;
    for (SocketContext* context = providerTable[0].sockets; context; context = context->next)
        contexts++;
    EXPECT_EQ(1, contexts) << "only the fixture's own socket is left";
    int closedRecords = 0;
    for (const Record& record : viewer.Records())
        closedRecords += record.Kind() == RecordSocketClosed;
    EXPECT_EQ(threads * rounds, closedRecords);
}

TEST_F(OverlappedTest, AnUntracedProcessHandsItsOverlappedCallsStraightDown)
{
    CleanUpLayer();
    StopTracing();
    ASSERT_EQ(0, StartLayer(&table));
    EXPECT_TRUE(overlappedPassThrough);
    EXPECT_EQ(nullptr, completionPort) << "no manager, no threads";
    EXPECT_EQ(nullptr, queueWorker);
    SOCKET s = WSPSocket(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_OVERLAPPED,
                         &error);
    char space[4];
    WSABUF buffer = {4, space};
    WSAOVERLAPPED overlapped = {};
    DWORD flags = 0;
    EXPECT_EQ(SOCKET_ERROR, table.lpWSPRecv(s, &buffer, 1, nullptr, &flags, &overlapped,
                                            CountRoutine, &self, &error));
    EXPECT_EQ(WSA_IO_PENDING, error);
    ASSERT_EQ(1, base->pendingCount);
    EXPECT_EQ(&overlapped, base->pending[0].overlapped) << "the application's own";
    EXPECT_EQ(CountRoutine, base->pending[0].routine);
    DWORD transferred = 0;
    error = static_cast<int>(0xdeadbeef);
    EXPECT_FALSE(table.lpWSPGetOverlappedResult(s, &overlapped, &transferred, FALSE, &flags,
                                                &error));
    EXPECT_EQ(WSAEOPNOTSUPP, error) << "answered by the provider below, which issued it";

    // With an event whose low bit keeps the call off any port: still below, still no manager.
    HANDLE event = NewEvent();
    HANDLE eventWithoutPacket = reinterpret_cast<HANDLE>(reinterpret_cast<ULONG_PTR>(event) | 1);
    WSAOVERLAPPED withEvent = {};
    withEvent.hEvent = eventWithoutPacket;
    EXPECT_EQ(SOCKET_ERROR, table.lpWSPRecv(s, &buffer, 1, nullptr, &flags, &withEvent, nullptr, &self, &error));
    ASSERT_EQ(2, base->pendingCount);
    EXPECT_EQ(&withEvent, base->pending[1].overlapped);
    EXPECT_EQ(nullptr, completionPort);
    EXPECT_EQ(nullptr, queueWorker);

    // Neither event nor routine: meant for a completion port, which only the layer's handle can
    // reach. The manager starts, completes the request on the application's handle, and takes
    // the socket's later calls too; another socket's still go below unless they may be meant
    // for a port too.
    WSAOVERLAPPED forPort = {};
    EXPECT_EQ(SOCKET_ERROR, table.lpWSPRecv(s, &buffer, 1, nullptr, &flags, &forPort, nullptr, &self, &error));
    EXPECT_EQ(WSA_IO_PENDING, error);
    ASSERT_TRUE(WaitForPending(3));
    EXPECT_NE(&forPort, base->pending[2].overlapped) << "the layer's own";
    EXPECT_TRUE(completionPort || queueWorker) << "the manager runs";
    ASSERT_TRUE(completeBase(2, 0));
    ASSERT_TRUE(WaitFor([&] { return fakeUpcalls.completedOverlapped == &forPort; }));
    EXPECT_EQ(s, fakeUpcalls.completedSocket) << "completed on the application's handle";
    transferred = 0xdeadbeef;
    EXPECT_TRUE(table.lpWSPGetOverlappedResult(s, &forPort, &transferred, TRUE, &flags, &error));

    ResetEvent(event);
    EXPECT_EQ(SOCKET_ERROR, table.lpWSPRecv(s, &buffer, 1, nullptr, &flags, &withEvent, nullptr, &self, &error));
    ASSERT_TRUE(WaitForPending(4));
    EXPECT_NE(&withEvent, base->pending[3].overlapped) << "the socket stays with the manager";
    SOCKET other = WSPSocket(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_OVERLAPPED, &error);
    ResetEvent(event);
    WSAOVERLAPPED otherOverlapped = {};
    otherOverlapped.hEvent = eventWithoutPacket;
    EXPECT_EQ(SOCKET_ERROR,
              table.lpWSPRecv(other, &buffer, 1, nullptr, &flags, &otherOverlapped, nullptr, &self, &error));
    ASSERT_EQ(5, base->pendingCount);
    EXPECT_EQ(&otherOverlapped, base->pending[4].overlapped)
        << "another socket's call with an event that wants no packet goes below";
    // A plain event on a socket not yet put through the manager goes below too.
    SOCKET third = WSPSocket(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_OVERLAPPED, &error);
    WSAOVERLAPPED thirdOverlapped = {};
    thirdOverlapped.hEvent = NewEvent();
    EXPECT_EQ(SOCKET_ERROR,
              table.lpWSPRecv(third, &buffer, 1, nullptr, &flags, &thirdOverlapped, nullptr, &self, &error));
    ASSERT_EQ(6, base->pendingCount);
    EXPECT_EQ(&thirdOverlapped, base->pending[5].overlapped);
    ASSERT_TRUE(completeBase(3, 0));
    ASSERT_TRUE(completeBase(4, 0));
    EXPECT_TRUE(WaitFor([&] { return ContextOf(s)->pendingAsync == 0; }));
}

// An overlapped control request goes through the manager like a transfer: a code the layer
// reports is reported at completion, any other code never, and the layer's own answer
// completes at once.
TEST_F(OverlappedTest, ControlRequestsAreReportedAtCompletionOnlyForTheCodesShown)
{
    DWORD out = 0, returned = 0;
    WSAOVERLAPPED overlapped = {};
    overlapped.hEvent = NewEvent();
    base->optionValue = 77;
    EXPECT_EQ(SOCKET_ERROR, table.lpWSPIoctl(tcp, SIO_FLUSH, nullptr, 0, &out,
                                             sizeof(out), &returned, &overlapped, nullptr, &self,
                                             &error));
    EXPECT_EQ(WSA_IO_PENDING, error);
    ASSERT_TRUE(WaitForPending(1));
    ASSERT_TRUE(completeBase(0, 0));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(overlapped.hEvent, 5000));
    EXPECT_EQ(0u, overlapped.Offset);
    EXPECT_TRUE(WaitFor([&] { return ContextOf(tcp)->pendingAsync == 0; }));

    ResetEvent(overlapped.hEvent);
    EXPECT_EQ(SOCKET_ERROR, table.lpWSPIoctl(tcp, FIONREAD, nullptr, 0, &out, sizeof(out),
                                             &returned, &overlapped, nullptr, &self, &error));
    EXPECT_EQ(WSA_IO_PENDING, error);
    EXPECT_TRUE(Texts().empty()) << "nothing until it completes";
    ASSERT_TRUE(WaitForPending(2));
    ASSERT_TRUE(completeBase(1, 0));
    ASSERT_TRUE(viewer.WaitForRecords(1, 5000));
    EXPECT_EQ(std::vector<std::string>{"socket (" + N(tcp) + ") can receive 77 bytes atomically"},
              Texts());
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(overlapped.hEvent, 5000));
    EXPECT_TRUE(WaitFor([&] { return ContextOf(tcp)->pendingAsync == 0; }));

    // The target handle: answered, and the request completed before the call returns.
    ResetEvent(overlapped.hEvent);
    SOCKET target = 0;
    EXPECT_EQ(0, table.lpWSPIoctl(tcp, SIO_QUERY_TARGET_PNP_HANDLE, nullptr, 0, &target,
                                  sizeof(target), nullptr, &overlapped, nullptr, &self, &error));
    EXPECT_EQ(ContextOf(tcp)->lowerSocket, target);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(overlapped.hEvent, 0));
    EXPECT_EQ(sizeof(SOCKET), fakeUpcalls.completedBytes);
    EXPECT_EQ(0, ContextOf(tcp)->pendingAsync);
    EXPECT_EQ(2, base->pendingCount) << "never asked below";
    EXPECT_EQ(1u, Texts().size()) << "the layer's own answer is not reported";
}

// An operation the provider below still holds at the last cleanup may complete into its record
// afterwards: the record's memory stays, and the late completion changes nothing else.
TEST_F(OverlappedTest, AnOperationStillBelowAtTheLastCleanupKeepsItsRecord)
{
    char space[8];
    WSABUF buffers[1] = {{sizeof(space), space}};
    WSAOVERLAPPED overlapped = {};
    overlapped.hEvent = NewEvent();
    DWORD flags = 0;
    EXPECT_EQ(SOCKET_ERROR, table.lpWSPRecv(tcp, buffers, 1, nullptr, &flags, &overlapped,
                                            nullptr, &self, &error));
    ASSERT_TRUE(WaitForPending(1));
    LPWSAOVERLAPPED record = base->pending[0].overlapped;
    CleanUpLayer();
    EXPECT_FALSE(IsBadWritePtr(record, sizeof(*record))) << "the record's heap was destroyed";
    // Writes into the record; the routine it was given cannot run, its thread having ended.
    completeBase(0, WSAECONNABORTED);
    SleepEx(100, TRUE);

    // A new start gets a pool of its own and works as ever.
    Begin(TRUE);
    overlapped = {};
    overlapped.hEvent = NewEvent();
    base->completeAtOnce = TRUE;
    memcpy(base->data, "abc", 3);
    base->dataLength = 3;
    EXPECT_EQ(SOCKET_ERROR, table.lpWSPRecv(tcp, buffers, 1, nullptr, &flags, &overlapped,
                                            nullptr, &self, &error));
    EXPECT_EQ(WSA_IO_PENDING, error);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(overlapped.hEvent, 5000));
    EXPECT_EQ(3u, static_cast<DWORD>(overlapped.InternalHigh));
}
