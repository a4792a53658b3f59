// Overlapped requests on the provider's real handles complete the Windows way: through the
// caller's event, as an APC in the issuing thread, and to a completion port.
#include "BaseProviderHarness.h"

#include <cstring>
#include <string>

namespace {

DWORD routineThread;
DWORD routineBytes;
DWORD routineError;
int routineCalls;

void CALLBACK RecordCompletion(DWORD error, DWORD bytes, LPWSAOVERLAPPED, DWORD)
{
    routineThread = GetCurrentThreadId();
    routineBytes = bytes;
    routineError = error;
    ++routineCalls;
}

} // namespace

TEST_F(BaseProviderTest, OverlappedReceiveSignalsTheEventAndReportsItsResult)
{
    SOCKET client, server;
    ConnectedPair(tcp6, &client, &server);
    char received[16] = {};
    WSABUF buffer{sizeof received, received};
    WSAOVERLAPPED overlapped{};
    overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    DWORD count = 0xdeadbeef, flags = 0;
    int error = 0xdeadbeef;

    ASSERT_EQ(table.lpWSPRecv(server, &buffer, 1, &count, &flags, &overlapped, nullptr, nullptr,
                              &error), SOCKET_ERROR);
    ASSERT_EQ(error, WSA_IO_PENDING);
    DWORD transferred = 0xdeadbeef;
    error = 0xdeadbeef;
    EXPECT_FALSE(table.lpWSPGetOverlappedResult(server, &overlapped, &transferred, FALSE, &flags,
                                                &error));
    EXPECT_EQ(error, WSA_IO_INCOMPLETE);

    SendText(client, "overlap");
    ASSERT_EQ(WaitForSingleObject(overlapped.hEvent, 5000), WAIT_OBJECT_0);
    ASSERT_TRUE(table.lpWSPGetOverlappedResult(server, &overlapped, &transferred, TRUE, &flags,
                                               &error)) << "error " << error;
    EXPECT_EQ(transferred, 7u);
    EXPECT_EQ(std::string(received, transferred), "overlap");
    CloseHandle(overlapped.hEvent);
    Close(client);
    Close(server);
}

TEST_F(BaseProviderTest, CompletionRoutineRunsAsAnApcInTheIssuingThread)
{
    SOCKET client, server;
    ConnectedPair(tcp4, &client, &server);
    routineCalls = 0;
    routineThread = routineBytes = routineError = 0xdeadbeef;
    char received[16] = {};
    WSABUF buffer{sizeof received, received};
    WSAOVERLAPPED overlapped{};
    DWORD count = 0xdeadbeef, flags = 0;
    int error = 0xdeadbeef;
    int result = table.lpWSPRecv(server, &buffer, 1, &count, &flags, &overlapped,
                                 RecordCompletion, nullptr, &error);
    ASSERT_TRUE(result == 0 || error == WSA_IO_PENDING) << "error " << error;

    SendText(client, "apc");
    // Not before the thread waits alertably, and then exactly once, in this thread.
    Sleep(200);
    EXPECT_EQ(routineCalls, 0);
    DWORD deadline = GetTickCount() + 5000;
    while (routineCalls == 0 && GetTickCount() < deadline)
        SleepEx(100, TRUE);
    EXPECT_EQ(routineCalls, 1);
    EXPECT_EQ(routineThread, GetCurrentThreadId());
    EXPECT_EQ(routineError, 0u);
    EXPECT_EQ(routineBytes, 3u);
    EXPECT_EQ(std::string(received, 3), "apc");
    Close(client);
    Close(server);
}

TEST_F(BaseProviderTest, RequestsCompleteToTheApplicationsCompletionPort)
{
    SOCKET client, server;
    ConnectedPair(tcp4, &client, &server);
    const ULONG_PTR key = 0x5eed;
    HANDLE port = CreateIoCompletionPort(reinterpret_cast<HANDLE>(server), nullptr, key, 1);
    ASSERT_NE(port, nullptr) << "error " << GetLastError();

    char received[16] = {};
    WSABUF in{sizeof received, received};
    WSAOVERLAPPED receiving{};
    DWORD count = 0xdeadbeef, flags = 0;
    int error = 0xdeadbeef;
    int result = table.lpWSPRecv(server, &in, 1, &count, &flags, &receiving, nullptr, nullptr,
                                 &error);
    ASSERT_TRUE(result == 0 || error == WSA_IO_PENDING) << "error " << error;
    SendText(client, "to port");

    char reply[] = "reply";
    WSABUF out{5, reply};
    WSAOVERLAPPED sending{};
    result = table.lpWSPSend(server, &out, 1, &count, 0, &sending, nullptr, nullptr, &error);
    ASSERT_TRUE(result == 0 || error == WSA_IO_PENDING) << "error " << error;

    // Both requests arrive at the port, in either order, with their counts and the key.
    bool sawReceive = false, sawSend = false;
    for (int i = 0; i < 2; ++i) {
        DWORD bytes = 0xdeadbeef;
        ULONG_PTR completionKey = 0xdeadbeef;
        LPOVERLAPPED done = nullptr;
        ASSERT_TRUE(GetQueuedCompletionStatus(port, &bytes, &completionKey, &done, 5000))
            << "error " << GetLastError();
        EXPECT_EQ(completionKey, key);
        if (done == reinterpret_cast<LPOVERLAPPED>(&receiving)) {
            sawReceive = true;
            EXPECT_EQ(bytes, 7u);
        } else if (done == reinterpret_cast<LPOVERLAPPED>(&sending)) {
            sawSend = true;
            EXPECT_EQ(bytes, 5u);
        }
    }
    EXPECT_TRUE(sawReceive && sawSend);
    EXPECT_EQ(std::string(received, 7), "to port");
    EXPECT_EQ(ReceiveText(client, 5), "reply");
    CloseHandle(port);
    Close(client);
    Close(server);
}
