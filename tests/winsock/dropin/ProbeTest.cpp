// The drop-in with a provider of the test's own: loading and cleanup, handles made through the
// upcalls, routing by handle, overlapped completion, and the upcalls called directly.
#include "ProbeFixture.h"

#include <mswsock.h>

namespace {

int routineRuns;
DWORD routineThread, routineBytes;

void CALLBACK CountCompletion(DWORD, DWORD bytes, LPWSAOVERLAPPED, DWORD)
{
    ++routineRuns;
    routineThread = GetCurrentThreadId();
    routineBytes = bytes;
}

int apcTotal;

void CALLBACK AddToApcTotal(DWORD_PTR value)
{
    apcTotal += static_cast<int>(value);
}

TEST_F(ProbeRouting, HandlesCarryTheirProviderContextUntilClosed)
{
    SOCKET first = ProbeSocket();
    DWORD_PTR firstContext = state->lastContext;
    SOCKET second = ProbeSocket();
    DWORD_PTR secondContext = state->lastContext;
    EXPECT_EQ(state->startups, 1) << "one start for the entry, however many sockets";
    EXPECT_NE(first, second);
    EXPECT_NE(firstContext, secondContext);

    int error = 0;
    EXPECT_EQ(ContextOf(first, &error), firstContext);
    EXPECT_EQ(error, 0);
    EXPECT_EQ(ContextOf(second, &error), secondContext);

    EXPECT_EQ(closesocket(first), 0) << WSAGetLastError();
    ContextOf(first, &error);
    EXPECT_EQ(error, WSAENOTSOCK) << "a closed handle is no longer routed";
    WSASetLastError(0xdeadbeef);
    EXPECT_EQ(closesocket(first), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
    DWORD_PTR context = 0xdeadbeef;
    error = 0xdeadbeef;
    EXPECT_EQ(state->upcalls.lpWPUQuerySocketHandleContext(first, &context, &error), SOCKET_ERROR);
    EXPECT_EQ(error, WSAENOTSOCK);
    EXPECT_EQ(ContextOf(second, &error), secondContext) << "the other handle is untouched";

    // select goes to the owner of the first socket in the sets.
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(second, &readable);
    timeval now{0, 0};
    EXPECT_EQ(select(0, &readable, nullptr, nullptr, &now), 1);
    EXPECT_TRUE(FD_ISSET(second, &readable));

    closesocket(second);
    WSACleanup();
    EXPECT_EQ(state->cleanups, 1) << "one cleanup per start at the last WSACleanup";
    WSADATA data;
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    SOCKET again = ProbeSocket();
    EXPECT_EQ(state->startups, 2) << "started again after the cleanup";
    closesocket(again);
}

TEST_F(ProbeRouting, EachEntryStartsOnceAndEachStartIsCleanedUp)
{
    SOCKET stream = ProbeSocket();
    SOCKET datagram = socket(probeFamily, SOCK_DGRAM, 0);
    ASSERT_NE(datagram, INVALID_SOCKET) << WSAGetLastError();
    closesocket(socket(probeFamily, SOCK_DGRAM, 0));
    EXPECT_EQ(state->startups, 2) << "one DLL, started once for each of its two entries";
    closesocket(stream);
    closesocket(datagram);
    WSACleanup();
    EXPECT_EQ(state->cleanups, 2);
    WSADATA data;
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0); // for TearDown's cleanup
}

TEST_F(ProbeRouting, CleanupWaitsForTheLastWSACleanup)
{
    WSADATA data;
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0); // a second start of the same program
    closesocket(ProbeSocket());
    EXPECT_EQ(WSACleanup(), 0);
    EXPECT_EQ(state->cleanups, 0);
    EXPECT_EQ(WSACleanup(), 0);
    EXPECT_EQ(state->cleanups, 1);
    WSASetLastError(0xdeadbeef);
    EXPECT_EQ(WSACleanup(), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);
    WSASetLastError(0xdeadbeef);
    EXPECT_EQ(socket(probeFamily, SOCK_STREAM, 0), INVALID_SOCKET);
    EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0); // for TearDown's cleanup
}

TEST_F(ProbeRouting, UnknownHandlesAreNotSockets)
{
    SOCKET bogus = 0x7ff0;
    char buffer[4] = {};
    u_long value = 0;
    int length = sizeof value;
    sockaddr_in address{};
    int addressLength = sizeof address;
    struct Call {
        const char* name;
        int (*call)(SOCKET, char*, u_long*, int*, sockaddr_in*, int*);
    } calls[] = {
        {"closesocket", [](SOCKET s, char*, u_long*, int*, sockaddr_in*, int*) { return closesocket(s); }},
        {"send", [](SOCKET s, char* b, u_long*, int*, sockaddr_in*, int*) { return send(s, b, 4, 0); }},
        {"recv", [](SOCKET s, char* b, u_long*, int*, sockaddr_in*, int*) { return recv(s, b, 4, 0); }},
        {"ioctlsocket", [](SOCKET s, char*, u_long* v, int*, sockaddr_in*, int*) { return ioctlsocket(s, FIONBIO, v); }},
        {"getsockopt", [](SOCKET s, char*, u_long* v, int* l, sockaddr_in*, int*) {
             return getsockopt(s, SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(v), l); }},
        {"getsockname", [](SOCKET s, char*, u_long*, int*, sockaddr_in* a, int* l) {
             return getsockname(s, reinterpret_cast<sockaddr*>(a), l); }},
        {"bind", [](SOCKET s, char*, u_long*, int*, sockaddr_in* a, int*) {
             return bind(s, reinterpret_cast<sockaddr*>(a), sizeof *a); }},
        {"listen", [](SOCKET s, char*, u_long*, int*, sockaddr_in*, int*) { return listen(s, 1); }},
        {"shutdown", [](SOCKET s, char*, u_long*, int*, sockaddr_in*, int*) { return shutdown(s, SD_BOTH); }},
        {"WSAEventSelect", [](SOCKET s, char*, u_long*, int*, sockaddr_in*, int*) {
             return WSAEventSelect(s, nullptr, 0); }},
        {"accept", [](SOCKET s, char*, u_long*, int*, sockaddr_in*, int*) {
             return accept(s, nullptr, nullptr) == INVALID_SOCKET ? SOCKET_ERROR : 0; }},
    };
    for (const Call& row : calls) {
        SCOPED_TRACE(row.name);
        WSASetLastError(0xdeadbeef);
        EXPECT_EQ(row.call(bogus, buffer, &value, &length, &address, &addressLength), SOCKET_ERROR);
        EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
    }
}

TEST_F(ProbeRouting, SocketRequestsPickTheFirstMatchingEntry)
{
    struct Request {
        int af, type, protocol;
        int expectedError; // 0: a socket
    } requests[] = {
        {AF_INET, SOCK_STREAM, 0, 0},
        {AF_INET, SOCK_STREAM, IPPROTO_TCP, 0},
        {AF_INET6, SOCK_DGRAM, 0, 0},
        {AF_UNSPEC, SOCK_DGRAM, IPPROTO_UDP, 0},
        {probeFamily, SOCK_STREAM, 0, 0},
        {AF_INET, SOCK_DGRAM, IPPROTO_TCP, WSAEPROTONOSUPPORT},
        {AF_INET, SOCK_RAW, 9999, WSAEPROTONOSUPPORT}, // beyond the raw entry's range
        {AF_INET, SOCK_SEQPACKET, 0, WSAESOCKTNOSUPPORT},
        {AF_IPX, SOCK_DGRAM, 0, WSAEAFNOSUPPORT},
        {AF_UNSPEC, 0, 0, WSAEINVAL},
        {AF_UNSPEC, SOCK_STREAM, 0, WSAEINVAL}, // only a protocol can stand for the family
    };
    for (const Request& row : requests) {
        SCOPED_TRACE(testing::Message() << "af " << row.af << " type " << row.type << " protocol "
                                        << row.protocol);
        WSASetLastError(0xdeadbeef);
        SOCKET s = socket(row.af, row.type, row.protocol);
        if (row.expectedError) {
            EXPECT_EQ(s, INVALID_SOCKET);
            EXPECT_EQ(WSAGetLastError(), row.expectedError);
        } else {
            EXPECT_NE(s, INVALID_SOCKET) << WSAGetLastError();
            closesocket(s);
        }
    }
    // Named by its catalog entry, the request ignores family, type and protocol.
    WSAPROTOCOL_INFOW probeEntry = *FindEntry(CatalogEntries(), probeId);
    SOCKET named = WSASocketW(FROM_PROTOCOL_INFO, FROM_PROTOCOL_INFO, FROM_PROTOCOL_INFO,
                              &probeEntry, 0, 0);
    EXPECT_NE(named, INVALID_SOCKET);
    int error = 0;
    EXPECT_EQ(ContextOf(named, &error), state->lastContext) << "made by the probe";
    closesocket(named);
}

// The errors Wine's own library gives for these, where a provider would otherwise write
// through the application's pointer.
TEST_F(ProbeRouting, DuplicateSocketRefusesBadArguments)
{
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    ASSERT_NE(s, INVALID_SOCKET) << WSAGetLastError();
    WSAPROTOCOL_INFOW wide;
    WSAPROTOCOL_INFOA narrow;
    auto* unwritable = reinterpret_cast<void*>(1);
    struct Row {
        const char* name;
        SOCKET socket;
        DWORD process;
        void* wideInfo;
        void* narrowInfo;
        int expectedError;
    } rows[] = {
        {"null information", s, GetCurrentProcessId(), nullptr, nullptr, WSAEFAULT},
        {"unwritable information", s, GetCurrentProcessId(), unwritable, unwritable, WSAEFAULT},
        {"process 0", s, 0, &wide, &narrow, WSAEINVAL},
        {"no such process", s, 0x7ffffff0, &wide, &narrow, WSAEINVAL},
        {"no socket", 0x7ff0, GetCurrentProcessId(), &wide, &narrow, WSAENOTSOCK},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        WSASetLastError(0xdeadbeef);
        EXPECT_EQ(WSADuplicateSocketW(row.socket, row.process,
                                      static_cast<LPWSAPROTOCOL_INFOW>(row.wideInfo)),
                  SOCKET_ERROR);
        EXPECT_EQ(WSAGetLastError(), row.expectedError) << "W";
        WSASetLastError(0xdeadbeef);
        EXPECT_EQ(WSADuplicateSocketA(row.socket, row.process,
                                      static_cast<LPWSAPROTOCOL_INFOA>(row.narrowInfo)),
                  SOCKET_ERROR);
        EXPECT_EQ(WSAGetLastError(), row.expectedError) << "A";
    }
    closesocket(s);
}

TEST_F(ProbeRouting, OverlappedCompletionThroughTheUpcalls)
{
    SOCKET s = ProbeSocket();
    char data[] = "twelve bytes";
    WSABUF buffer{12, data};
    WSAOVERLAPPED overlapped{};
    overlapped.hEvent = WSACreateEvent();
    DWORD sent = 0xdeadbeef;
    WSASetLastError(0xdeadbeef);
    EXPECT_EQ(WSASend(s, &buffer, 1, &sent, 0, &overlapped, nullptr), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSA_IO_PENDING);
    // The completion comes through the handle driver, a moment after the upcall returned.
    EXPECT_EQ(WaitForSingleObject(overlapped.hEvent, 5000), WAIT_OBJECT_0) << "event signalled";
    DWORD transferred = 0xdeadbeef, flags = 0xdeadbeef;
    EXPECT_TRUE(WSAGetOverlappedResult(s, &overlapped, &transferred, FALSE, &flags));
    EXPECT_EQ(transferred, 12u);
    EXPECT_EQ(overlapped.InternalHigh, 12u);
    WSACloseEvent(overlapped.hEvent);

    // A completion routine runs once, as an APC of the issuing thread.
    routineRuns = 0;
    WSAOVERLAPPED routineOverlapped{};
    EXPECT_EQ(WSASend(s, &buffer, 1, &sent, 0, &routineOverlapped, CountCompletion), SOCKET_ERROR);
    EXPECT_EQ(routineRuns, 0) << "not before the thread waits alertably";
    EXPECT_EQ(SleepEx(0, TRUE), WAIT_IO_COMPLETION);
    SleepEx(0, TRUE);
    EXPECT_EQ(routineRuns, 1);
    EXPECT_EQ(routineThread, GetCurrentThreadId());
    EXPECT_EQ(routineBytes, 12u);

    // The provider keeps its own record of the outcome in Offset and OffsetHigh; the upcall
    // writes only the Winsock layer's fields and signals the event.
    WSAOVERLAPPED owned{};
    owned.Offset = WSAECONNRESET;
    owned.OffsetHigh = MSG_PARTIAL;
    owned.Internal = WSS_OPERATION_IN_PROGRESS;
    owned.hEvent = WSACreateEvent();
    int upcallError = 0xdeadbeef;
    EXPECT_EQ(WPUCompleteOverlappedRequest(s, &owned, WSAECONNRESET, 7, &upcallError), 0);
    EXPECT_EQ(WaitForSingleObject(owned.hEvent, 5000), WAIT_OBJECT_0);
    EXPECT_EQ(owned.Offset, DWORD(WSAECONNRESET));
    EXPECT_EQ(owned.OffsetHigh, DWORD(MSG_PARTIAL));
    EXPECT_EQ(owned.InternalHigh, 7u);
    EXPECT_NE(owned.Internal, ULONG_PTR(WSS_OPERATION_IN_PROGRESS));
    WSACloseEvent(owned.hEvent);

    int error = 0xdeadbeef;
    WSAOVERLAPPED other{};
    EXPECT_EQ(WPUCompleteOverlappedRequest(0x7ff0, &other, 0, 1, &error), SOCKET_ERROR);
    EXPECT_EQ(error, WSAEINVAL) << "only for handles made by WPUCreateSocketHandle";
    closesocket(s);
}

TEST_F(ProbeRouting, ExtensionFunctionsComeFromTheOwner)
{
    SOCKET s = ProbeSocket();
    GUID connectEx = WSAID_CONNECTEX;
    void* function = nullptr;
    DWORD returned = 0;
    ASSERT_EQ(WSAIoctl(s, SIO_GET_EXTENSION_FUNCTION_POINTER, &connectEx, sizeof connectEx,
                       &function, sizeof function, &returned, nullptr, nullptr),
              0);
    EXPECT_EQ(function, reinterpret_cast<void*>(GetProcAddress(probe, "ProbeExtension")));
    closesocket(s);
}

TEST_F(ProbeRouting, TableWithANullEntryIsRefused)
{
    SetEnvironmentVariableW(L"PROBE_TABLE_HOLE", L"1");
    WSASetLastError(0xdeadbeef);
    SOCKET s = socket(probeFamily, SOCK_STREAM, 0);
    int error = WSAGetLastError();
    SetEnvironmentVariableW(L"PROBE_TABLE_HOLE", nullptr);
    EXPECT_EQ(s, INVALID_SOCKET);
    EXPECT_EQ(error, WSAEINVALIDPROCTABLE);
    EXPECT_EQ(state->startups, 1);
    EXPECT_EQ(state->cleanups, 1) << "the refused start still gets its cleanup";
}

TEST_F(ProbeRouting, UpcallsBehaveAsOnWindows)
{
    closesocket(ProbeSocket()); // starts the probe, which keeps the table
    const WSPUPCALLTABLE& up = state->upcalls;
    int error = 0xdeadbeef;
    EXPECT_EQ(up.lpWPUCreateSocketHandle(4242, 1, &error), INVALID_SOCKET);
    EXPECT_EQ(error, WSAEINVAL) << "unknown catalog id";
    error = 0xdeadbeef;
    EXPECT_EQ(up.lpWPUModifyIFSHandle(4242, 0x1234, &error), INVALID_SOCKET);
    EXPECT_EQ(error, WSAEINVAL);

    // A handle made for the probe's own id carries exactly the context given.
    SOCKET made = up.lpWPUCreateSocketHandle(probeId, 0xfeedf00d, &error);
    ASSERT_NE(made, INVALID_SOCKET) << error;
    DWORD_PTR context = 0;
    EXPECT_EQ(up.lpWPUQuerySocketHandleContext(made, &context, &error), 0);
    EXPECT_EQ(context, 0xfeedf00du);
    EXPECT_EQ(up.lpWPUCloseSocketHandle(made, &error), 0);
    error = 0xdeadbeef;
    EXPECT_EQ(up.lpWPUCloseSocketHandle(made, &error), SOCKET_ERROR);
    EXPECT_EQ(error, WSAENOTSOCK);

    fd_set set;
    FD_ZERO(&set);
    FD_SET(static_cast<SOCKET>(77), &set);
    EXPECT_NE(up.lpWPUFDIsSet(77, &set), 0);
    EXPECT_EQ(up.lpWPUFDIsSet(78, &set), 0);

    WSATHREADID thread{};
    ASSERT_EQ(up.lpWPUOpenCurrentThread(&thread, &error), 0);
    apcTotal = 0;
    EXPECT_EQ(up.lpWPUQueueApc(&thread, AddToApcTotal, 5, &error), 0);
    SleepEx(0, TRUE);
    SleepEx(0, TRUE);
    EXPECT_EQ(apcTotal, 5) << "ran once";
    EXPECT_EQ(up.lpWPUCloseThread(&thread, &error), 0);

    HWND window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(up.lpWPUPostMessage(window, WM_APP + 7, 11, 22));
    MSG message{};
    EXPECT_TRUE(PeekMessageW(&message, window, WM_APP + 7, WM_APP + 7, PM_REMOVE));
    EXPECT_EQ(message.wParam, 11u);
    EXPECT_EQ(message.lParam, 22);
    DestroyWindow(window);

    WSAEVENT event = up.lpWPUCreateEvent(&error);
    ASSERT_NE(event, nullptr);
    EXPECT_TRUE(up.lpWPUSetEvent(event, &error));
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(up.lpWPUResetEvent(event, &error));
    EXPECT_EQ(WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_TRUE(up.lpWPUCloseEvent(event, &error));

    LPBLOCKINGCALLBACK callback = reinterpret_cast<LPBLOCKINGCALLBACK>(1);
    DWORD_PTR callbackContext = 1;
    EXPECT_EQ(up.lpWPUQueryBlockingCallback(probeId, &callback, &callbackContext, &error), 0);
    EXPECT_EQ(callback, nullptr);

    GUID guid = ProbeGuid();
    wchar_t path[MAX_PATH];
    int length = MAX_PATH;
    EXPECT_EQ(up.lpWPUGetProviderPath(&guid, path, &length, &error), 0);
    EXPECT_STREQ(path, L"%WS2LAYER_HOME%\\probewsp.dll");
}

} // namespace

namespace {

// The base provider's sockets are real handles it registers as IFS handles.
TEST_F(ProbeRouting, IfsHandlesAreRoutedUntilClosed)
{
    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    ASSERT_NE(listener, INVALID_SOCKET) << WSAGetLastError();
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
    ASSERT_EQ(listen(listener, 1), 0);
    SOCKET client = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    ASSERT_EQ(connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    SOCKET accepted = accept(listener, nullptr, nullptr);
    ASSERT_NE(accepted, INVALID_SOCKET) << WSAGetLastError();
    EXPECT_EQ(send(client, "ping", 4, 0), 4);
    char buffer[8] = {};
    EXPECT_EQ(recv(accepted, buffer, sizeof buffer, 0), 4) << "the accepted socket is routed";

    int type = 0;
    int typeLength = sizeof type;
    EXPECT_EQ(closesocket(accepted), 0);
    WSASetLastError(0xdeadbeef);
    EXPECT_EQ(getsockopt(accepted, SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&type), &typeLength),
              SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);

    // The last WSACleanup forgets the sockets still open, as the providers close them.
    WSACleanup();
    WSADATA data;
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    WSASetLastError(0xdeadbeef);
    EXPECT_EQ(getsockopt(client, SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&type), &typeLength),
              SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
}

} // namespace
