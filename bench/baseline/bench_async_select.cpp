// Message-driven round trips, as the async_select sample makes them: a client and an accepted
// socket over 127.0.0.1, both selected with WSAAsyncSelect for FD_READ on one window of this
// thread; each FD_READ of the server echoes what arrived, each of the client sends the next
// message. Prints "async_select_roundtrip_ops_per_s" (median over the runs) and its seconds.
// Then the same with the notifications sent to a window of a second thread that posts each on
// to the first, the hop a layer's hidden window adds: "async_select_relayed_roundtrip_ops_per_s",
// what that hop alone costs on this machine.
//   bench_async_select [--roundtrips N] [--message-bytes N] [--runs N]
#include "Architecture.h"
#include <winsock2.h>

#include <algorithm>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <vector>

namespace {

constexpr UINT SocketMessage = WM_APP + 1;
constexpr DWORD StallMs = 30000;   // no round trip may take longer than this

[[noreturn]] void Fail(const char* what) {
    printf("bench_async_select: %s failed (error %d)\n", what, WSAGetLastError());
    ExitProcess(1);
}

double Seconds() {
    static LARGE_INTEGER frequency;
    if (!frequency.QuadPart)
        QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return double(now.QuadPart) / double(frequency.QuadPart);
}

struct Exchange {
    SOCKET client = INVALID_SOCKET;
    SOCKET server = INVALID_SOCKET;
    long messageBytes = 64;
    long wanted = 0;
    long done = 0;
    long clientHas = 0;   // bytes of the current echo the client has read
    std::vector<char> buffer;
};

Exchange* exchange;

void SendMessageBytes(SOCKET s, const char* data, long length) {
    while (length > 0) {
        int sent = send(s, data, length, 0);
        if (sent == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK)
            continue;
        if (sent <= 0)
            Fail("send");
        data += sent;
        length -= sent;
    }
}

// Reads what is there; 0 when nothing was (a notification for bytes already read).
int ReadAvailable(SOCKET s, char* data, int length) {
    int got = recv(s, data, length, 0);
    if (got == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK)
        return 0;
    if (got <= 0)
        Fail("recv");
    return got;
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != SocketMessage)
        return DefWindowProcA(window, message, wParam, lParam);
    if (WSAGETSELECTERROR(lParam))
        Fail("a notification");
    Exchange& e = *exchange;
    SOCKET s = static_cast<SOCKET>(wParam);
    char* data = e.buffer.data();
    if (s == e.server) {
        int got = ReadAvailable(s, data, int(e.messageBytes));
        if (got)
            SendMessageBytes(s, data, got);
    } else if (s == e.client) {
        int got = ReadAvailable(s, data, int(e.messageBytes - e.clientHas));
        e.clientHas += got;
        if (e.clientHas == e.messageBytes) {
            e.clientHas = 0;
            if (++e.done < e.wanted)
                SendMessageBytes(s, data, e.messageBytes);
        }
    }
    return 0;
}

HWND MakeWindow(const char* className, WNDPROC procedure) {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = className;
    RegisterClassA(&windowClass);
    HWND window = CreateWindowExA(0, windowClass.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                  nullptr, windowClass.hInstance, nullptr);
    if (!window)
        Fail("CreateWindowExA");
    return window;
}

// The relay: a window of its own thread that posts every notification on to the workload's.
HWND workloadWindow;
HWND relayWindow;

LRESULT CALLBACK RelayProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != SocketMessage)
        return DefWindowProcA(window, message, wParam, lParam);
    PostMessageA(workloadWindow, message, wParam, lParam);
    return 0;
}

DWORD WINAPI RelayThread(void* ready) {
    relayWindow = MakeWindow("BenchAsyncSelectRelay", RelayProc);
    SetEvent(ready);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0)
        DispatchMessageA(&message);
    return 0;
}

void StartRelay() {
    HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!CreateThread(nullptr, 0, RelayThread, ready, 0, nullptr))
        Fail("CreateThread");
    WaitForSingleObject(ready, INFINITE);
    CloseHandle(ready);
}

void Connect(Exchange& e) {
    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) ||
        listen(listener, 1) ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length))
        Fail("the listener");
    e.client = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (connect(e.client, reinterpret_cast<sockaddr*>(&address), sizeof address))
        Fail("connect");
    e.server = accept(listener, nullptr, nullptr);
    if (e.server == INVALID_SOCKET)
        Fail("accept");
    closesocket(listener);
    BOOL noDelay = TRUE;
    setsockopt(e.client, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<char*>(&noDelay), sizeof noDelay);
    setsockopt(e.server, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<char*>(&noDelay), sizeof noDelay);
}

// The notifications go to target; the workload's window, this thread's, handles them.
double RoundTripSeconds(HWND target, long roundtrips, long messageBytes) {
    Exchange e;
    e.messageBytes = messageBytes;
    e.wanted = roundtrips;
    e.buffer.assign(messageBytes, 'k');
    exchange = &e;
    Connect(e);
    if (WSAAsyncSelect(e.client, target, SocketMessage, FD_READ) ||
        WSAAsyncSelect(e.server, target, SocketMessage, FD_READ))
        Fail("WSAAsyncSelect");
    double start = Seconds();
    SendMessageBytes(e.client, e.buffer.data(), messageBytes);
    DWORD lastProgress = GetTickCount();
    long seen = 0;
    while (e.done < e.wanted) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 1000, QS_ALLINPUT);
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&message);
        if (e.done != seen) {
            seen = e.done;
            lastProgress = GetTickCount();
        } else if (GetTickCount() - lastProgress > StallMs) {
            Fail("a round trip within the time allowed");
        }
    }
    double elapsed = Seconds() - start;
    closesocket(e.client);
    closesocket(e.server);
    exchange = nullptr;
    return elapsed;
}

}  // namespace

int main(int argc, char** argv) {
    long roundtrips = 5000, messageBytes = 64, runs = 3;
    struct {
        const char* name;
        long* value;
    } table[] = {{"--roundtrips", &roundtrips}, {"--message-bytes", &messageBytes}, {"--runs", &runs}};
    for (int i = 1; i < argc; ++i) {
        bool known = false;
        for (auto& row : table) {
            if (strcmp(argv[i], row.name) == 0 && i + 1 < argc) {
                *row.value = strtol(argv[++i], nullptr, 10);
                known = true;
            }
        }
        if (!known || roundtrips < 1 || messageBytes < 1 || messageBytes > 65536 || runs < 1) {
            printf("usage: bench_async_select [--roundtrips N] [--message-bytes N] [--runs N]\n");
            return 2;
        }
    }
    printf("build: %s\n", KESTRIX_BITNESS);  // which of the two builds these figures are from
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data))
        Fail("WSAStartup");
    workloadWindow = MakeWindow("BenchAsyncSelect", WindowProc);
    StartRelay();
    const struct {
        const char* name;
        HWND target;
    } ways[] = {{"async_select", workloadWindow}, {"async_select_relayed", relayWindow}};
    for (const auto& way : ways) {
        std::vector<double> rates;
        double total = 0;
        for (long run = 0; run < runs; ++run) {
            double seconds = RoundTripSeconds(way.target, roundtrips, messageBytes);
            total += seconds;
            rates.push_back(seconds > 0 ? roundtrips / seconds : 0);
        }
        std::sort(rates.begin(), rates.end());
        printf("%s_roundtrip_ops_per_s %.1f\n", way.name, rates[rates.size() / 2]);
        printf("%s_roundtrip_seconds %.3f\n", way.name, total);
    }
    WSACleanup();
    return 0;
}
