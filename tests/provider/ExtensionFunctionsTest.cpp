// The layer's own extension functions with the fake lower provider: how WSPIoctl hands them out,
// their reports, and their overlapped calls through the manager. The fake's sockets are not
// kernel handles, so the port refuses them and their operations run on the queue worker, which
// learns of their completion from an event of the layer's own: the path queue mode takes too.
#include "LayerHarness.h"
#include "Channel.h"
#include "Entries.h"
#include "ExtensionFunctions.h"
#include "Formatting.h"
#include "OverlappedManager.h"
#include "SocketContext.h"
#include <mswsock.h>
#include <cstring>
#include <algorithm>
#include <functional>

static const GUID TransmitFileId = WSAID_TRANSMITFILE, AcceptExId = WSAID_ACCEPTEX,
                  ConnectExId = WSAID_CONNECTEX, DisconnectExId = WSAID_DISCONNECTEX,
                  TransmitPacketsId = WSAID_TRANSMITPACKETS, RecvMsgId = WSAID_WSARECVMSG,
                  SockaddrsId = WSAID_GETACCEPTEXSOCKADDRS;

static sockaddr_in Loopback(u_short port)
{
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

class ExtensionFunctionsTest : public ViewerLayerTest {
protected:
    void SetUp() override
    {
        ViewerLayerTest::SetUp();
        Begin(TRUE);
    }
    void TearDown() override
    {
        ViewerLayerTest::TearDown();
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
        for (SOCKET* s : {&tcp, &accepting})
            *s = WSPSocket(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_OVERLAPPED,
                           &error);
        udp = WSPSocket(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, WSA_FLAG_OVERLAPPED, &error);
        ASSERT_NE(INVALID_SOCKET, udp);
        viewer.ClearRecords();
    }
    void Trace(DWORD level)
    {
        TraceTo(viewer, level);
        viewer.ClearRecords();
    }
    // The pointer WSPIoctl hands out for id, or null with error set.
    void* Fetch(SOCKET s, const GUID& id)
    {
        GUID request = id;
        void* function = nullptr;
        DWORD returned = 0;
        error = static_cast<int>(0xdeadbeef);
        if (table.lpWSPIoctl(s, SIO_GET_EXTENSION_FUNCTION_POINTER, &request, sizeof(request),
                             &function, sizeof(function), &returned, nullptr, nullptr, nullptr,
                             &error) != 0)
            return nullptr;
        EXPECT_EQ(sizeof(function), returned);
        return function;
    }
    template <typename F>
    F FetchAs(const GUID& id)
    {
        return reinterpret_cast<F>(Fetch(tcp, id));
    }
    HANDLE NewEvent()
    {
        events.push_back(CreateEventA(nullptr, TRUE, TRUE, nullptr));   // reset by the call
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
    // Completes the fake's newest operation and waits for the application's event.
    bool Complete(WSAOVERLAPPED& overlapped, DWORD completionError = 0)
    {
        return completeBase(base->pendingCount - 1, completionError) &&
               WaitForSingleObject(overlapped.hEvent, 5000) == WAIT_OBJECT_0;
    }
    bool Settled(SOCKET s)
    {
        return WaitFor([&] { return ContextOf(s)->pendingAsync == 0; });
    }
    std::vector<std::string> Texts() { return TextsOf(viewer.Records()); }
    std::string Error(int code)
    {
        char scratch[32];
        return ErrorText(code, scratch);
    }
    SOCKET Lower(SOCKET s) { return ContextOf(s)->lowerSocket; }

    SOCKET tcp = INVALID_SOCKET, accepting = INVALID_SOCKET, udp = INVALID_SOCKET;
    std::vector<HANDLE> events;
};

TEST_F(ExtensionFunctionsTest, WSPIoctlHandsOutTheReplacementsAndFetchesEachLowerFunctionOnce)
{
    struct Row {
        const GUID* id;
        void* replacement;
    } rows[] = {
        {&TransmitFileId, reinterpret_cast<void*>(LayerTransmitFile)},
        {&AcceptExId, reinterpret_cast<void*>(LayerAcceptEx)},
        {&ConnectExId, reinterpret_cast<void*>(LayerConnectEx)},
        {&DisconnectExId, reinterpret_cast<void*>(LayerDisconnectEx)},
        {&TransmitPacketsId, reinterpret_cast<void*>(LayerTransmitPackets)},
        {&RecvMsgId, reinterpret_cast<void*>(LayerRecvMsg)},
    };
    for (int i = 0; i < 6; i++) {
        SCOPED_TRACE(i);
        EXPECT_EQ(rows[i].replacement, Fetch(tcp, *rows[i].id));
        EXPECT_EQ(i + 1, base->extensionFetches) << "the lower function is fetched with it";
        EXPECT_EQ(Lower(tcp), base->lastSocket);
    }
    EXPECT_EQ(rows[1].replacement, Fetch(tcp, AcceptExId));
    EXPECT_EQ(rows[1].replacement, Fetch(accepting, AcceptExId)) << "any socket of the provider";
    EXPECT_EQ(6, base->extensionFetches) << "asked again, the kept pointer serves";
    EXPECT_NE(nullptr, providerTable[0].acceptEx);

    // GetAcceptExSockaddrs takes no socket: the provider below answers with its own.
    auto sockaddrs = FetchAs<LPFN_GETACCEPTEXSOCKADDRS>(SockaddrsId);
    ASSERT_NE(nullptr, sockaddrs);
    EXPECT_EQ(7, base->extensionFetches);
    sockaddr *local = nullptr, *remote = nullptr;
    int localLength = 0, remoteLength = 0;
    char buffer[64];
    sockaddrs(buffer, 0, 32, 32, &local, &localLength, &remote, &remoteLength);
    EXPECT_EQ(1, base->sockaddrsCalls) << "the fake's own function";

    GUID unknown = {0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};
    EXPECT_EQ(nullptr, Fetch(tcp, unknown));
    EXPECT_EQ(WSAEINVAL, error);

    // Buffers the application gets wrong are its error, never a fault in the layer.
    GUID request = AcceptExId;
    void* function = nullptr;
    DWORD returned = 0;
    struct BadCall {
        void* input;
        DWORD inputLength;
        void* output;
        DWORD outputLength;
    } badCalls[] = {
        {&request, 8, &function, sizeof(function)},
        {reinterpret_cast<void*>(1), sizeof(GUID), &function, sizeof(function)},
        {nullptr, sizeof(GUID), &function, sizeof(function)},
        {&request, sizeof(GUID), &function, 2},
        {&request, sizeof(GUID), reinterpret_cast<void*>(1), sizeof(function)},
    };
    for (const BadCall& bad : badCalls) {
        error = static_cast<int>(0xdeadbeef);
        EXPECT_EQ(SOCKET_ERROR, table.lpWSPIoctl(tcp, SIO_GET_EXTENSION_FUNCTION_POINTER,
                                                 bad.input, bad.inputLength, bad.output,
                                                 bad.outputLength, &returned, nullptr, nullptr,
                                                 nullptr, &error));
        EXPECT_EQ(WSAEFAULT, error);
    }
    EXPECT_EQ(nullptr, function);
    EXPECT_EQ(7, base->extensionFetches);
    EXPECT_TRUE(viewer.Records().empty()) << "handing them out is not reported";
}

TEST_F(ExtensionFunctionsTest, LowerFunctionRefusedIsAFaultAndIsAskedForAgain)
{
    base->extensionFetchError = WSAEOPNOTSUPP;
    EXPECT_EQ(nullptr, Fetch(tcp, ConnectExId)) << "the lower request's own answer";
    EXPECT_EQ(WSAEOPNOTSUPP, error);
    EXPECT_EQ(nullptr, providerTable[0].connectEx);
    sockaddr_in peer = Loopback(7000);
    auto connectEx = reinterpret_cast<LPFN_CONNECTEX>(LayerConnectEx);
    auto acceptEx = reinterpret_cast<LPFN_ACCEPTEX>(LayerAcceptEx);
    auto transmitFile = reinterpret_cast<LPFN_TRANSMITFILE>(LayerTransmitFile);
    char buffer[64];
    WSASetLastError(0);
    EXPECT_FALSE(connectEx(tcp, reinterpret_cast<sockaddr*>(&peer), sizeof(peer), nullptr, 0,
                           nullptr, nullptr));
    EXPECT_EQ(WSAEFAULT, WSAGetLastError());
    EXPECT_FALSE(acceptEx(tcp, accepting, buffer, 0, 32, 32, nullptr, nullptr));
    EXPECT_EQ(WSAEFAULT, WSAGetLastError());
    EXPECT_FALSE(transmitFile(tcp, nullptr, 0, 0, nullptr, nullptr, 0));
    EXPECT_EQ(WSAEFAULT, WSAGetLastError());
    EXPECT_EQ(0, base->extensionCalls);

    base->extensionFetchError = 0;
    EXPECT_TRUE(connectEx(tcp, reinterpret_cast<sockaddr*>(&peer), sizeof(peer), nullptr, 0,
                          nullptr, nullptr));
    EXPECT_EQ(1, base->extensionCalls);
    std::string t = N(tcp), a = N(accepting);
    EXPECT_EQ((std::vector<std::string>{
                  "socket (" + t + ") could not connect [name=127.0.0.1:7000] - " +
                      Error(WSAEFAULT),
                  "socket (" + t + ") could not accept a connection on existing socket (" + a +
                      ") - " + Error(WSAEFAULT),
                  "socket (" + t + ") connecting asynchronously [name=127.0.0.1:7000]",
                  "socket (" + t + ") connected",
              }),
              Texts()) << "TransmitFile has no report for it";
}

TEST_F(ExtensionFunctionsTest, ConnectExReportsItsStartAndItsOutcome)
{
    auto connectEx = FetchAs<LPFN_CONNECTEX>(ConnectExId);
    ASSERT_NE(nullptr, connectEx);
    sockaddr_in peer = Loopback(7000);
    char first[] = "hi";
    std::string t = N(tcp);
    std::string start = "socket (" + t + ") connecting asynchronously [name=127.0.0.1:7000]";

    // Pending: the start report only, then the outcome at completion.
    for (DWORD outcome : {0, WSAECONNREFUSED}) {
        SCOPED_TRACE(outcome);
        viewer.ClearRecords();
        WSAOVERLAPPED overlapped = {};
        overlapped.hEvent = NewEvent();
        DWORD sent = 0;
        LONG pendingBefore = base->pendingCount;   // a worker may issue it before the call returns
        WSASetLastError(0);
        EXPECT_FALSE(connectEx(tcp, reinterpret_cast<sockaddr*>(&peer), sizeof(peer), first, 2,
                               &sent, &overlapped));
        EXPECT_EQ(WSA_IO_PENDING, WSAGetLastError());
        ASSERT_TRUE(WaitForPending(pendingBefore + 1));
        EXPECT_EQ(std::vector<std::string>{start}, Texts());
        EXPECT_EQ(Lower(tcp), base->extensionSockets[0]);
        EXPECT_EQ(static_cast<int>(sizeof(peer)), base->connectTargetLength);
        EXPECT_EQ(0, memcmp(&peer, &base->connectTarget, sizeof(peer))) << "the address copied";
        EXPECT_NE(&overlapped, base->extensionOverlapped) << "the layer's own overlapped below";
        ASSERT_TRUE(Complete(overlapped, outcome));
        ASSERT_TRUE(viewer.WaitForRecords(2, 5000));
        EXPECT_EQ(outcome ? "socket (" + t + ") could not connect - " + Error(WSAECONNREFUSED)
                          : "socket (" + t + ") connected",
                  Texts().back());
        EXPECT_EQ(2u, viewer.Records().size());
        DWORD transferred = 0, flags = 0;
        EXPECT_EQ(!outcome, table.lpWSPGetOverlappedResult(tcp, &overlapped, &transferred, FALSE,
                                                           &flags, &error));
        EXPECT_EQ(outcome ? 0u : 2u, transferred);
        EXPECT_TRUE(Settled(tcp));
    }
    EXPECT_EQ(2u, ContextOf(tcp)->bytesSent) << "the first bytes of the connect that succeeded";

    // Synchronous: the lower call's error, passed to the application and reported.
    viewer.ClearRecords();
    base->extensionError = WSAETIMEDOUT;
    WSASetLastError(0);
    EXPECT_FALSE(connectEx(tcp, reinterpret_cast<sockaddr*>(&peer), sizeof(peer), nullptr, 0,
                           nullptr, nullptr));
    EXPECT_EQ(WSAETIMEDOUT, WSAGetLastError());
    base->extensionError = 0;
    EXPECT_TRUE(connectEx(tcp, reinterpret_cast<sockaddr*>(&peer), sizeof(peer), nullptr, 0,
                          nullptr, nullptr));
    EXPECT_FALSE(connectEx(UnknownHandle, reinterpret_cast<sockaddr*>(&peer), sizeof(peer),
                           nullptr, 0, nullptr, nullptr));
    EXPECT_EQ(WSAENOTSOCK, WSAGetLastError());
    EXPECT_EQ((std::vector<std::string>{
                  start,
                  "socket (" + t + ") could not connect - " + Error(WSAETIMEDOUT),
                  start,
                  "socket (" + t + ") connected",
                  "socket (" + N(UnknownHandle) + ") could not connect [name=127.0.0.1:7000] - " +
                      Error(WSAENOTSOCK),
              }),
              Texts());
}

TEST_F(ExtensionFunctionsTest, OverlappedConnectExWithAnAddressItCannotKeepIsRefusedCleanly)
{
    auto connectEx = FetchAs<LPFN_CONNECTEX>(ConnectExId);
    BYTE longAddress[OperationAddressLimit + 1] = {};
    reinterpret_cast<sockaddr*>(longAddress)->sa_family = AF_INET;
    struct Row {
        const void* address;
        int length;
    } rows[] = {
        {longAddress, OperationAddressLimit + 1},
        {longAddress, -1},
        {reinterpret_cast<void*>(1), 16},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.length);
        viewer.ClearRecords();
        WSAOVERLAPPED overlapped = {};
        overlapped.hEvent = NewEvent();
        WSASetLastError(0);
        EXPECT_FALSE(connectEx(tcp, static_cast<const sockaddr*>(row.address), row.length,
                               nullptr, 0, nullptr, &overlapped));
        EXPECT_EQ(WSAEFAULT, WSAGetLastError());
        auto texts = Texts();
        ASSERT_EQ(2u, texts.size());
        EXPECT_EQ("socket (" + N(tcp) + ") could not connect - " + Error(WSAEFAULT), texts[1]);
        EXPECT_EQ(0, ContextOf(tcp)->pendingAsync) << "no record kept";
    }
    // An overlapped the layer cannot write to is refused the same way.
    EXPECT_FALSE(connectEx(tcp, reinterpret_cast<sockaddr*>(longAddress), 16, nullptr, 0, nullptr,
                           reinterpret_cast<LPOVERLAPPED>(1)));
    EXPECT_EQ(WSAEFAULT, WSAGetLastError());
    EXPECT_EQ(0, base->extensionCalls) << "nothing reached the provider below";
    EXPECT_EQ(0, ContextOf(tcp)->pendingAsync);
    EXPECT_EQ(0, fakeUpcalls.completions);
}

TEST_F(ExtensionFunctionsTest, OverlappedTransmitFileIsReportedAtCompletionAsOneCounterRecord)
{
    auto transmitFile = FetchAs<LPFN_TRANSMITFILE>(TransmitFileId);
    base->extensionBytes = 10010;
    HANDLE file = reinterpret_cast<HANDLE>(0x44);
    for (DWORD level : {Low, High}) {
        SCOPED_TRACE(level);
        Trace(level);
        WSAOVERLAPPED overlapped = {};
        overlapped.hEvent = NewEvent();
        LONG pendingBefore = base->pendingCount;   // a worker may issue it before the call returns
        WSASetLastError(0);
        EXPECT_FALSE(transmitFile(tcp, file, 0, 0, &overlapped, nullptr, 0));
        EXPECT_EQ(WSA_IO_PENDING, WSAGetLastError());
        ASSERT_TRUE(WaitForPending(pendingBefore + 1));
        size_t started = level == Low ? 0 : 1;
        EXPECT_EQ(started, viewer.Records().size()) << "no failure report while it is pending";
        ASSERT_TRUE(Complete(overlapped));
        ASSERT_TRUE(viewer.WaitForRecords(started + 1, 5000));
        auto records = viewer.Records();
        ASSERT_EQ(started + 1, records.size());
        const Record& done = records.back();
        EXPECT_EQ(RecordDataSent, done.Kind());
        EXPECT_EQ(DataHeaderSize, done.PayloadLength()) << "the count without any bytes";
        EXPECT_EQ(static_cast<DWORD>(tcp), done.Word(1));
        EXPECT_EQ(10010u, done.Word(2));
        EXPECT_EQ(level == Low ? "" : "socket (" + N(tcp) + ") transmitted 10010 bytes of file data",
                  done.Text());
        EXPECT_TRUE(Settled(tcp));
    }
    EXPECT_EQ(20020u, ContextOf(tcp)->bytesSent);
    EXPECT_EQ(Lower(tcp), base->extensionSockets[0]);

    // Failing when the queue worker makes the call: reported and delivered at completion.
    Trace(Medium);
    base->extensionError = WSAENOTCONN;
    WSAOVERLAPPED overlapped = {};
    overlapped.hEvent = NewEvent();
    EXPECT_FALSE(transmitFile(tcp, file, 0, 0, &overlapped, nullptr, 0));
    EXPECT_EQ(WSA_IO_PENDING, WSAGetLastError());
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(overlapped.hEvent, 5000));
    EXPECT_EQ(WinsockErrorStatus(WSAENOTCONN), overlapped.Internal);
    ASSERT_TRUE(viewer.WaitForRecords(2, 5000));
    EXPECT_EQ("socket (" + N(tcp) + ") could not transmit file data - " + Error(WSAENOTCONN),
              Texts().back());
    EXPECT_EQ(20020u, ContextOf(tcp)->bytesSent);
    EXPECT_TRUE(Settled(tcp));
}

TEST_F(ExtensionFunctionsTest, AcceptExShowsThePeerAndTheFirstBytesCountedOnTheAcceptingSocket)
{
    auto acceptEx = FetchAs<LPFN_ACCEPTEX>(AcceptExId);
    base->source = Loopback(5000);
    memcpy(base->data, "hello", 5);
    std::string l = N(tcp), a = N(accepting);
    std::string start = "socket (" + l + ") accepting a connection asynchronously on existing socket (" + a + ")";
    std::string accepted = "socket (" + l + ") accepted a connection on existing socket (" + a +
                           ") [addr=127.0.0.1:5000]";
    DWORD expectedTotal = 0;
    for (DWORD level : {Low, Medium, High}) {
        for (DWORD length : {5u, 0u}) {
            SCOPED_TRACE(std::to_string(level) + " with " + std::to_string(length) + " bytes");
            Trace(level);
            base->dataLength = length;
            char buffer[5 + 2 * 32] = {};
            WSAOVERLAPPED overlapped = {};
            overlapped.hEvent = NewEvent();
            LONG pendingBefore = base->pendingCount;   // a worker may issue it before the call returns
            WSASetLastError(0);
            EXPECT_FALSE(acceptEx(tcp, accepting, buffer, 5, 32, 32, nullptr, &overlapped));
            EXPECT_EQ(WSA_IO_PENDING, WSAGetLastError());
            ASSERT_TRUE(WaitForPending(pendingBefore + 1));
            EXPECT_EQ(Lower(tcp), base->extensionSockets[0]);
            EXPECT_EQ(Lower(accepting), base->extensionSockets[1]);
            ASSERT_TRUE(Complete(overlapped));
            EXPECT_TRUE(Settled(tcp));
            expectedTotal += length;
            auto records = viewer.Records();
            std::vector<std::string> texts = {start, accepted};
            if (length)
                texts.push_back(level == Low ? "" : "socket (" + a + ") received 5 bytes of data");
            else if (level != Low)
                texts.push_back("socket (" + a + ") did not receive any data, closed gracefully by peer");
            EXPECT_EQ(texts, TextsOf(records));
            ASSERT_EQ(texts.size(), records.size());
            EXPECT_EQ(0u, records[1].PayloadLength()) << "a text, not a new socket's record";
            if (length) {
                EXPECT_EQ(RecordDataReceived, records[2].Kind());
                EXPECT_EQ(static_cast<DWORD>(accepting), records[2].Word(1));
                EXPECT_EQ(5u, records[2].Word(2));
                EXPECT_EQ(DataHeaderSize + (level == High ? 5 : 0), records[2].PayloadLength());
                if (level == High) {
                    EXPECT_EQ(0, memcmp(records[2].bytes.data() + RecordLengthSize + DataHeaderSize,
                                        "hello", 5));
                }
            } else if (level != Low) {
                EXPECT_EQ(0u, records[2].PayloadLength());
            }
            EXPECT_EQ(expectedTotal, ContextOf(accepting)->bytesReceived);
            EXPECT_EQ(0u, ContextOf(tcp)->bytesReceived) << "not the listening socket's bytes";
        }
    }

    // Either socket unknown.
    Trace(Low);
    char buffer[64];
    WSAOVERLAPPED overlapped = {};
    EXPECT_FALSE(acceptEx(tcp, UnknownHandle, buffer, 0, 32, 32, nullptr, &overlapped));
    EXPECT_EQ(WSAENOTSOCK, WSAGetLastError());
    EXPECT_FALSE(acceptEx(UnknownHandle, accepting, buffer, 0, 32, 32, nullptr, &overlapped));
    EXPECT_EQ(WSAENOTSOCK, WSAGetLastError());
    EXPECT_EQ((std::vector<std::string>{
                  "socket (" + l + ") could not accept a connection on existing socket (" +
                      N(UnknownHandle) + ") - " + Error(WSAENOTSOCK),
                  "socket (" + N(UnknownHandle) + ") could not accept a connection on existing socket (" +
                      a + ") - " + Error(WSAENOTSOCK),
              }),
              Texts());
    EXPECT_EQ(0, ContextOf(tcp)->pendingAsync);
    EXPECT_EQ(0, ContextOf(accepting)->pendingAsync);
}

TEST_F(ExtensionFunctionsTest, DisconnectExTransmitPacketsAndRecvMsgSendNothingWhateverTheOutcome)
{
    auto disconnectEx = FetchAs<LPFN_DISCONNECTEX>(DisconnectExId);
    auto transmitPackets = FetchAs<LPFN_TRANSMITPACKETS>(TransmitPacketsId);
    auto recvMsg = FetchAs<LPFN_WSARECVMSG>(RecvMsgId);
    memcpy(base->data, "hello", 5);
    base->dataLength = 5;
    char space[8];
    WSABUF buffer = {sizeof(space), space};
    WSAMSG message = {};
    message.lpBuffers = &buffer;
    message.dwBufferCount = 1;
    TRANSMIT_PACKETS_ELEMENT packet = {};
    // Each call on socket s with overlapped (or none): its result, the last error with it.
    struct Row {
        const char* name;
        std::function<BOOL(SOCKET, LPWSAOVERLAPPED, DWORD*)> call;
    } rows[] = {
        {"DisconnectEx", [&](SOCKET s, LPWSAOVERLAPPED o, DWORD*) { return disconnectEx(s, o, 0, 0); }},
        {"TransmitPackets",
         [&](SOCKET s, LPWSAOVERLAPPED o, DWORD*) { return transmitPackets(s, &packet, 1, 0, o, 0); }},
        {"WSARecvMsg", [&](SOCKET s, LPWSAOVERLAPPED o, DWORD* bytes) {
             return recvMsg(s, &message, bytes, o, nullptr) == 0;
         }},
    };
    for (Row& row : rows) {
        SCOPED_TRACE(row.name);
        for (DWORD level : {Low, High}) {
            Trace(level);
            DWORD bytes = 0;
            base->extensionError = 0;
            EXPECT_TRUE(row.call(udp, nullptr, &bytes));
            EXPECT_EQ(Lower(udp), base->extensionSockets[0]);
            base->extensionError = WSAENETRESET;
            WSASetLastError(0);
            EXPECT_FALSE(row.call(udp, nullptr, &bytes));
            EXPECT_EQ(WSAENETRESET, WSAGetLastError());
            base->extensionError = 0;
            for (DWORD outcome : {0, WSAECONNRESET}) {
                WSAOVERLAPPED overlapped = {};
                overlapped.hEvent = NewEvent();
                LONG pendingBefore = base->pendingCount;   // a worker may issue it before the call returns
                WSASetLastError(0);
                EXPECT_FALSE(row.call(udp, &overlapped, &bytes));
                EXPECT_EQ(WSA_IO_PENDING, WSAGetLastError());
                ASSERT_TRUE(WaitForPending(pendingBefore + 1));
                ASSERT_TRUE(Complete(overlapped, outcome));
                EXPECT_EQ(outcome ? WinsockErrorStatus(outcome) : 0, overlapped.Internal);
                EXPECT_TRUE(Settled(udp));
            }
            EXPECT_FALSE(row.call(UnknownHandle, nullptr, &bytes));
            EXPECT_EQ(WSAENOTSOCK, WSAGetLastError());
            EXPECT_TRUE(viewer.Records().empty());
        }
    }
    // WSARecvMsg's received data and count pass through, and count for the close report.
    DWORD received = 0, before = ContextOf(udp)->bytesReceived;
    memset(space, 0, sizeof(space));
    EXPECT_EQ(0, recvMsg(udp, &message, &received, nullptr, nullptr));
    EXPECT_EQ(5u, received);
    EXPECT_EQ(0, memcmp(space, "hello", 5));
    EXPECT_EQ(before + 5, ContextOf(udp)->bytesReceived);
}

struct RoutineCall {
    int calls;
    DWORD thread, error, bytes;
    LPWSAOVERLAPPED overlapped;
};
static RoutineCall routineCall;

static void CALLBACK CountRoutine(DWORD error, DWORD bytes, LPWSAOVERLAPPED overlapped, DWORD)
{
    routineCall.calls++;
    routineCall.thread = GetCurrentThreadId();
    routineCall.error = error;
    routineCall.bytes = bytes;
    routineCall.overlapped = overlapped;
}

TEST_F(ExtensionFunctionsTest, RecvMsgCompletionRoutineRunsOnceInTheIssuingThread)
{
    auto recvMsg = FetchAs<LPFN_WSARECVMSG>(RecvMsgId);
    memcpy(base->data, "hello", 5);
    base->dataLength = 5;
    char space[8];
    WSABUF buffer = {sizeof(space), space};
    WSAMSG message = {};
    message.lpBuffers = &buffer;
    message.dwBufferCount = 1;
    // Completed by the provider below later, and failed by it when the queue worker calls.
    for (DWORD failure : {0, WSAENETDOWN}) {
        SCOPED_TRACE(failure);
        routineCall = RoutineCall{};
        base->extensionError = static_cast<int>(failure);
        WSAOVERLAPPED overlapped = {};
        overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        events.push_back(overlapped.hEvent);
        LONG pendingBefore = base->pendingCount;   // a worker may issue it before the call returns
        LONG opened = fakeUpcalls.threadsOpened;
        EXPECT_EQ(SOCKET_ERROR, recvMsg(udp, &message, nullptr, &overlapped, CountRoutine));
        EXPECT_EQ(WSA_IO_PENDING, WSAGetLastError());
        EXPECT_EQ(opened + 1, fakeUpcalls.threadsOpened);
        if (!failure) {
            ASSERT_TRUE(WaitForPending(pendingBefore + 1));
            EXPECT_EQ(nullptr, base->pending[base->pendingCount - 1].routine)
                << "the provider below gets no routine";
            ASSERT_TRUE(completeBase(base->pendingCount - 1, 0));
        }
        ASSERT_TRUE(WaitFor([] { return routineCall.calls > 0; }));
        SleepEx(50, TRUE);
        EXPECT_EQ(1, routineCall.calls);
        EXPECT_EQ(GetCurrentThreadId(), routineCall.thread);
        EXPECT_EQ(&overlapped, routineCall.overlapped);
        EXPECT_EQ(failure, routineCall.error);
        EXPECT_EQ(failure ? 0u : 5u, routineCall.bytes);
        EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(overlapped.hEvent, 0));
        EXPECT_TRUE(Settled(udp));
        EXPECT_EQ(fakeUpcalls.threadsOpened, fakeUpcalls.threadsClosed)
            << "the thread opened for the record is closed with it";
    }
    EXPECT_EQ(0, fakeUpcalls.completions) << "the routine, not the upcall, completes the request";
    EXPECT_TRUE(viewer.Records().empty());
}

TEST_F(ExtensionFunctionsTest, QueueModeLearnsOfTheCompletionFromTheLayersOwnEvent)
{
    Begin(FALSE);
    ASSERT_EQ(nullptr, completionPort);
    auto acceptEx = FetchAs<LPFN_ACCEPTEX>(AcceptExId);
    auto transmitFile = FetchAs<LPFN_TRANSMITFILE>(TransmitFileId);
    memcpy(base->data, "abc", 3);
    base->dataLength = 3;
    base->extensionBytes = 12;
    char buffer[3 + 2 * 32];
    WSAOVERLAPPED accept = {}, send = {};
    accept.hEvent = NewEvent();
    send.hEvent = NewEvent();
    EXPECT_FALSE(acceptEx(tcp, accepting, buffer, 3, 32, 32, nullptr, &accept));
    EXPECT_EQ(WSA_IO_PENDING, WSAGetLastError());
    ASSERT_TRUE(WaitForPending(1));
    HANDLE lowerEvent = base->pending[0].overlapped->hEvent;
    EXPECT_NE(nullptr, lowerEvent) << "the provider below signals the layer's event";
    EXPECT_NE(accept.hEvent, lowerEvent);
    // One done at once meanwhile, on the same worker.
    base->completeAtOnce = TRUE;
    EXPECT_FALSE(transmitFile(tcp, nullptr, 0, 0, &send, nullptr, 0));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(send.hEvent, 5000));
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(accept.hEvent, 0));
    ASSERT_TRUE(completeBase(0, 0));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(accept.hEvent, 5000));
    EXPECT_EQ(3u, static_cast<DWORD>(accept.InternalHigh));
    EXPECT_TRUE(Settled(tcp));
    EXPECT_EQ(3u, ContextOf(accepting)->bytesReceived);
    EXPECT_EQ(12u, ContextOf(tcp)->bytesSent);
    EXPECT_EQ(2, fakeUpcalls.completions);
    auto texts = Texts();
    EXPECT_NE(texts.end(), std::find(texts.begin(), texts.end(),
                                     "socket (" + N(tcp) + ") transmitted 12 bytes of file data"));
    EXPECT_EQ("socket (" + N(accepting) + ") received 3 bytes of data", texts.back());
}
