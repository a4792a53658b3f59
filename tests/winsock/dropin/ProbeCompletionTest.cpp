// The completion-port path of the drop-in: handles made by WPUCreateSocketHandle are opens of
// the handle driver's device, so the application binds them to its own port, and the probe's
// completions reach the event, the port (with the application's key and overlapped) or the
// routine with the probe's status and byte count, never touching the probe's own record.
#include "ChildProcess.h"
#include "ProbeFixture.h"

#include <string>

namespace {

constexpr DWORD waitMs = 5000;

class ProbeCompletion : public ProbeRouting {
protected:
    // A pending receive on s with the test's overlapped; the probe holds it until told.
    void StartReceive(SOCKET s, WSAOVERLAPPED& overlapped,
                      LPWSAOVERLAPPED_COMPLETION_ROUTINE routine = nullptr)
    {
        WSABUF buffer{sizeof data, data};
        DWORD flags = 0;
        WSASetLastError(0xdeadbeef);
        EXPECT_EQ(WSARecv(s, &buffer, 1, nullptr, &flags, &overlapped, routine), SOCKET_ERROR);
        EXPECT_EQ(WSAGetLastError(), WSA_IO_PENDING);
    }
    // Has the probe complete s's oldest pending receive; returns the upcall's error, 0 if none.
    int CompleteReceive(SOCKET s, DWORD error, DWORD bytes)
    {
        ProbeOutcome outcome{error, bytes};
        DWORD returned = 0;
        WSASetLastError(0xdeadbeef);
        if (WSAIoctl(s, probeCompleteReceive, &outcome, sizeof outcome, nullptr, 0, &returned,
                     nullptr, nullptr) == 0)
            return 0;
        return WSAGetLastError();
    }
    // The next packet of port, as GetQueuedCompletionStatus gives it.
    struct Packet {
        BOOL ok;
        DWORD error, bytes;
        ULONG_PTR key;
        LPOVERLAPPED overlapped;
    };
    Packet NextPacket(HANDLE port, DWORD timeoutMs = waitMs)
    {
        Packet packet{FALSE, 0xdeadbeef, 0xdeadbeef, 0xdeadbeef, nullptr};
        SetLastError(0xdeadbeef);
        packet.ok = GetQueuedCompletionStatus(port, &packet.bytes, &packet.key,
                                              &packet.overlapped, timeoutMs);
        packet.error = packet.ok ? 0 : GetLastError();
        return packet;
    }

    char data[16] = {};
};

TEST_F(ProbeCompletion, PacketsReachTheApplicationsPortWithItsKey)
{
    SOCKET s = ProbeSocket();
    HANDLE port = CreateIoCompletionPort(reinterpret_cast<HANDLE>(s), nullptr, 0xC0FFEE, 0);
    ASSERT_NE(port, nullptr) << "the handle is a file the port takes, error " << GetLastError();

    WSAOVERLAPPED overlapped[3] = {};
    const DWORD bytes[3] = {11, 0, 65536};
    for (auto& one : overlapped)
        StartReceive(s, one);
    EXPECT_EQ(NextPacket(port, 0).error, DWORD(WAIT_TIMEOUT)) << "nothing before the probe says";
    for (DWORD count : bytes)
        EXPECT_EQ(CompleteReceive(s, 0, count), 0);
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(testing::Message() << "receive " << i);
        Packet packet = NextPacket(port);
        EXPECT_TRUE(packet.ok) << packet.error;
        EXPECT_EQ(packet.key, ULONG_PTR(0xC0FFEE));
        EXPECT_EQ(packet.overlapped, &overlapped[i]);
        EXPECT_EQ(packet.bytes, bytes[i]);
        EXPECT_EQ(overlapped[i].InternalHigh, bytes[i]);
        EXPECT_EQ(overlapped[i].Offset, 0u) << "the probe's record stays as it left it";
        EXPECT_EQ(overlapped[i].OffsetHigh, probeRecordMark);
        DWORD transferred = 0xdeadbeef, flags = 0xdeadbeef;
        EXPECT_TRUE(WSAGetOverlappedResult(s, &overlapped[i], &transferred, FALSE, &flags))
            << WSAGetLastError();
        EXPECT_EQ(transferred, bytes[i]);
    }
    EXPECT_EQ(NextPacket(port, 200).error, DWORD(WAIT_TIMEOUT)) << "one packet per completion";

    // An event handle with its low bit set asks for the event alone, no packet.
    WSAOVERLAPPED quiet{};
    HANDLE event = WSACreateEvent();
    quiet.hEvent = reinterpret_cast<HANDLE>(reinterpret_cast<ULONG_PTR>(event) | 1);
    StartReceive(s, quiet);
    EXPECT_EQ(CompleteReceive(s, 0, 9), 0);
    EXPECT_EQ(WaitForSingleObject(event, waitMs), WAIT_OBJECT_0);
    EXPECT_EQ(quiet.InternalHigh, 9u);
    EXPECT_EQ(NextPacket(port, 200).error, DWORD(WAIT_TIMEOUT));
    WSACloseEvent(event);

    EXPECT_EQ(closesocket(s), 0) << WSAGetLastError();
    CloseHandle(port);
}

TEST_F(ProbeCompletion, EventIsSignalledOnlyAtTheCompletion)
{
    SOCKET s = ProbeSocket();
    WSAOVERLAPPED overlapped{};
    overlapped.hEvent = WSACreateEvent();
    StartReceive(s, overlapped);
    EXPECT_EQ(WaitForSingleObject(overlapped.hEvent, 100), DWORD(WAIT_TIMEOUT));
    DWORD transferred = 0xdeadbeef, flags = 0xdeadbeef;
    WSASetLastError(0xdeadbeef);
    EXPECT_FALSE(WSAGetOverlappedResult(s, &overlapped, &transferred, FALSE, &flags));
    EXPECT_EQ(WSAGetLastError(), WSA_IO_INCOMPLETE);

    EXPECT_EQ(CompleteReceive(s, 0, 4321), 0);
    EXPECT_EQ(WaitForSingleObject(overlapped.hEvent, waitMs), WAIT_OBJECT_0);
    EXPECT_NE(overlapped.Internal, ULONG_PTR(WSS_OPERATION_IN_PROGRESS))
        << "the status is in before the event fires";
    EXPECT_TRUE(WSAGetOverlappedResult(s, &overlapped, &transferred, FALSE, &flags));
    EXPECT_EQ(transferred, 4321u);
    WSACloseEvent(overlapped.hEvent);
    closesocket(s);
}

DWORD routineError, routineBytes, routineThread;
LPWSAOVERLAPPED routineOverlapped;
int routineRuns;

void CALLBACK NoteCompletion(DWORD error, DWORD bytes, LPWSAOVERLAPPED overlapped, DWORD)
{
    ++routineRuns;
    routineError = error;
    routineBytes = bytes;
    routineOverlapped = overlapped;
    routineThread = GetCurrentThreadId();
}

// A provider runs routines through WPUQueueApc; a port the handle is bound to gets nothing.
TEST_F(ProbeCompletion, RoutineRunsInTheIssuingThread)
{
    SOCKET s = ProbeSocket();
    HANDLE port = CreateIoCompletionPort(reinterpret_cast<HANDLE>(s), nullptr, 1, 0);
    ASSERT_NE(port, nullptr) << GetLastError();
    WSAOVERLAPPED overlapped{};
    routineRuns = 0;
    StartReceive(s, overlapped, NoteCompletion);
    EXPECT_EQ(CompleteReceive(s, WSAEMSGSIZE, 16), 0);
    EXPECT_EQ(routineRuns, 0) << "not before the thread waits alertably";
    EXPECT_EQ(SleepEx(waitMs, TRUE), DWORD(WAIT_IO_COMPLETION));
    EXPECT_EQ(routineRuns, 1);
    EXPECT_EQ(routineError, DWORD(WSAEMSGSIZE));
    EXPECT_EQ(routineBytes, 16u);
    EXPECT_EQ(routineOverlapped, &overlapped);
    EXPECT_EQ(routineThread, GetCurrentThreadId());
    EXPECT_EQ(NextPacket(port, 200).error, DWORD(WAIT_TIMEOUT));
    closesocket(s);
    CloseHandle(port);
}

TEST_F(ProbeCompletion, FailedCompletionCarriesTheProvidersError)
{
    SOCKET s = ProbeSocket();
    HANDLE port = CreateIoCompletionPort(reinterpret_cast<HANDLE>(s), nullptr, 0xBAD, 0);
    ASSERT_NE(port, nullptr) << GetLastError();
    struct Row {
        DWORD error, bytes;
    } rows[] = {{WSAECONNRESET, 5}, {WSAECONNABORTED, 0}, {WSAENETDOWN, 1}};
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "error " << row.error);
        WSAOVERLAPPED overlapped{};
        StartReceive(s, overlapped);
        EXPECT_EQ(CompleteReceive(s, row.error, row.bytes), 0);
        Packet packet = NextPacket(port);
        EXPECT_FALSE(packet.ok);
        EXPECT_EQ(packet.error, row.error) << "the provider's own error, not a system one";
        EXPECT_EQ(packet.bytes, row.bytes);
        EXPECT_EQ(packet.key, ULONG_PTR(0xBAD));
        EXPECT_EQ(packet.overlapped, &overlapped);
        DWORD transferred = 0xdeadbeef, flags = 0xdeadbeef;
        WSASetLastError(0xdeadbeef);
        EXPECT_FALSE(WSAGetOverlappedResult(s, &overlapped, &transferred, FALSE, &flags));
        EXPECT_EQ(WSAGetLastError(), int(row.error));
        EXPECT_EQ(transferred, row.bytes);
        DWORD systemBytes = 0xdeadbeef;
        SetLastError(0xdeadbeef);
        EXPECT_FALSE(GetOverlappedResult(reinterpret_cast<HANDLE>(s), &overlapped, &systemBytes,
                                         FALSE));
        EXPECT_EQ(GetLastError(), row.error);
    }
    closesocket(s);
    CloseHandle(port);
}

TEST_F(ProbeCompletion, CloseAbortsThePendingOperationsThroughThePort)
{
    SOCKET s = ProbeSocket();
    HANDLE port = CreateIoCompletionPort(reinterpret_cast<HANDLE>(s), nullptr, 77, 0);
    ASSERT_NE(port, nullptr) << GetLastError();
    WSAOVERLAPPED overlapped[2] = {};
    for (auto& one : overlapped)
        StartReceive(s, one);
    EXPECT_EQ(closesocket(s), 0) << WSAGetLastError();
    for (auto& one : overlapped) {
        Packet packet = NextPacket(port);
        EXPECT_FALSE(packet.ok);
        EXPECT_EQ(packet.error, DWORD(WSA_OPERATION_ABORTED));
        EXPECT_EQ(packet.key, 77u);
        EXPECT_EQ(packet.overlapped, &one);
    }
    EXPECT_EQ(NextPacket(port, 200).error, DWORD(WAIT_TIMEOUT));
    WSASetLastError(0xdeadbeef);
    EXPECT_EQ(CompleteReceive(s, 0, 1), WSAENOTSOCK) << "the handle is gone";
    CloseHandle(port);
}

// Closing the handle with CloseHandle is the application's mistake; it costs the completions
// of that socket and nothing else.
TEST_F(ProbeCompletion, HandleClosedByTheApplication)
{
    SOCKET s = ProbeSocket();
    WSAOVERLAPPED overlapped{};
    overlapped.hEvent = WSACreateEvent();
    StartReceive(s, overlapped);
    EXPECT_TRUE(CloseHandle(reinterpret_cast<HANDLE>(s))) << "a real handle of the process";
    EXPECT_EQ(CompleteReceive(s, 0, 3), WSAEINVAL) << "the upcall cannot complete it";
    EXPECT_EQ(WaitForSingleObject(overlapped.hEvent, 200), DWORD(WAIT_TIMEOUT));
    EXPECT_EQ(closesocket(s), 0) << "the provider still closes its socket";

    SOCKET next = ProbeSocket();
    HANDLE port = CreateIoCompletionPort(reinterpret_cast<HANDLE>(next), nullptr, 5, 0);
    ASSERT_NE(port, nullptr) << GetLastError();
    StartReceive(next, overlapped);
    EXPECT_EQ(CompleteReceive(next, 0, 8), 0);
    Packet packet = NextPacket(port);
    EXPECT_TRUE(packet.ok);
    EXPECT_EQ(packet.bytes, 8u);
    closesocket(next);
    CloseHandle(port);
    WSACloseEvent(overlapped.hEvent);
}

// Without the driver the handles are events again: no port takes them, completions still
// signal the event, and the process is told why once on its standard error.
TEST_F(ProbeCompletion, EventHandlesWhenTheDriverIsOff)
{
    if (GetEnvironmentVariableW(L"WS2LAYER_NO_HANDLE_DRIVER", nullptr, 0) != 0) {
        SOCKET s = ProbeSocket();
        SetLastError(0xdeadbeef);
        EXPECT_EQ(CreateIoCompletionPort(reinterpret_cast<HANDLE>(s), nullptr, 1, 0), nullptr);
        WSAOVERLAPPED overlapped{};
        overlapped.hEvent = WSACreateEvent();
        StartReceive(s, overlapped);
        EXPECT_EQ(CompleteReceive(s, WSAECONNRESET, 2), 0);
        EXPECT_EQ(WaitForSingleObject(overlapped.hEvent, 0), WAIT_OBJECT_0) << "at once";
        DWORD transferred = 0, flags = 0;
        EXPECT_FALSE(WSAGetOverlappedResult(s, &overlapped, &transferred, FALSE, &flags));
        EXPECT_EQ(WSAGetLastError(), WSAECONNRESET);
        EXPECT_EQ(transferred, 2u);
        WSACloseEvent(overlapped.hEvent);
        closesocket(s);
        return;
    }
    // The same test again in a child process with the driver turned off.
    wchar_t self[MAX_PATH];
    ASSERT_GT(GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
    wchar_t output[MAX_PATH];
    GetTempPathW(MAX_PATH, output);
    wcscat(output, L"probe_fallback.txt");
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE file = CreateFileW(output, GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                              0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    SetEnvironmentVariableW(L"WS2LAYER_NO_HANDLE_DRIVER", L"1");
    std::wstring line = std::wstring(L"\"") + self +
                        L"\" --gtest_filter=ProbeCompletion.EventHandlesWhenTheDriverIsOff";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = file;
    startup.hStdError = file;
    PROCESS_INFORMATION process{};
    BOOL started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                  nullptr, &startup, &process);
    SetEnvironmentVariableW(L"WS2LAYER_NO_HANDLE_DRIVER", nullptr);
    CloseHandle(file);
    ASSERT_TRUE(started) << GetLastError();
    EXPECT_EQ(WaitForSingleObject(process.hProcess, 60000), WAIT_OBJECT_0);
    DWORD code = 0xdeadbeef;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);

    std::string text;
    file = CreateFileW(output, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got)
        text.append(chunk, got);
    CloseHandle(file);
    DeleteFileW(output);
    EXPECT_EQ(code, 0u) << text;
    const std::string expected =
        "ws2_32 (drop-in): the handle driver ws2handles.sys cannot be used: "
        "WS2LAYER_NO_HANDLE_DRIVER=1 is set (error 0); sockets of providers without handles of "
        "their own get event handles, which cannot be bound to a completion port\n";
    EXPECT_NE(text.find(expected), std::string::npos) << text;
    EXPECT_EQ(text.find(expected), text.rfind(expected)) << "said once: " << text;
}

} // namespace
