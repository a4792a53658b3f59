// WSAAsyncSelect: a hidden window receives the notifications of a listener, a connecting
// client and the accepted socket through its message loop; each notification must name the
// program's own socket handle in wParam.
#include "SampleSockets.h"
#include "SampleSupport.h"

#include <string.h>
#include <vector>

namespace {

constexpr UINT WM_SOCKET_EVENT = WM_APP + 1;
const char kMessage[] = "message-driven hello";

struct Notification {
    SOCKET s;
    int event;
    int error;
};

std::vector<Notification> notifications;

LRESULT CALLBACK SocketWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_SOCKET_EVENT) {
        notifications.push_back({static_cast<SOCKET>(wParam), WSAGETSELECTEVENT(lParam),
                                 WSAGETSELECTERROR(lParam)});
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

HWND MakeHiddenWindow() {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = SocketWindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "KestrixSampleSocketWindow";
    Check(RegisterClassA(&windowClass) != 0, "RegisterClassA failed (error %lu)", GetLastError());
    HWND window = CreateWindowExA(0, windowClass.lpszClassName, "async_select", WS_OVERLAPPEDWINDOW,
                                  0, 0, 100, 100, nullptr, nullptr, windowClass.hInstance, nullptr);
    Check(window != nullptr, "CreateWindowExA failed (error %lu)", GetLastError());
    return window;
}

// Runs the message loop until s has been notified of event, or fails after kWaitMs.
Notification PumpUntil(SOCKET s, int event, const char* what) {
    DWORD deadline = GetTickCount() + kWaitMs;
    for (;;) {
        for (const Notification& seen : notifications) {
            if (seen.s == s && seen.event == event)
                return seen;
        }
        DWORD now = GetTickCount();
        Check(now < deadline, "no %s notification within %lu ms", what, kWaitMs);
        MsgWaitForMultipleObjects(0, nullptr, FALSE, deadline - now, QS_ALLINPUT);
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
}

void CheckNoError(const Notification& seen, const char* what) {
    Check(seen.error == 0, "the %s notification carries %s", what, WinsockErrorText(seen.error));
}

// Every wParam must be one of the program's sockets, with an event that socket asked for.
void CheckAllHandles(SOCKET listener, SOCKET client, SOCKET server) {
    for (const Notification& seen : notifications) {
        bool known = seen.s == listener || seen.s == client || seen.s == server;
        Check(known, "a notification (event 0x%x) names socket %u, which this program never had",
              seen.event, static_cast<unsigned>(seen.s));
        Check(seen.s != listener || seen.event == FD_ACCEPT,
              "the listener was notified of event 0x%x", seen.event);
    }
    Step("all %u notifications named this program's own socket handles",
         static_cast<unsigned>(notifications.size()));
}

}  // namespace

int main() {
    SampleStart("async_select");
    HWND window = MakeHiddenWindow();
    Step("hidden window ready for socket notifications");

    SOCKET listener = MakeListener(AF_INET);
    CheckSocketCall(WSAAsyncSelect(listener, window, WM_SOCKET_EVENT, FD_ACCEPT),
                    "WSAAsyncSelect(FD_ACCEPT)");
    SOCKET client = CheckSocketHandle(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP), "socket");
    CheckSocketCall(WSAAsyncSelect(client, window, WM_SOCKET_EVENT,
                                   FD_CONNECT | FD_WRITE | FD_READ | FD_CLOSE),
                    "WSAAsyncSelect(FD_CONNECT|FD_WRITE|FD_READ|FD_CLOSE)");
    sockaddr_storage target = LocalAddressOf(listener);
    WSASetLastError(0xdeadbeef);
    CheckSocketError(connect(client, reinterpret_cast<sockaddr*>(&target), AddressLength(target)),
                     WSAEWOULDBLOCK, "connect on a socket in WSAAsyncSelect mode");
    Step("client (socket %u) connecting to %s: WSAEWOULDBLOCK", static_cast<unsigned>(client),
         AddressText(target).c_str());

    CheckNoError(PumpUntil(listener, FD_ACCEPT, "FD_ACCEPT"), "FD_ACCEPT");
    SOCKET server = CheckSocketHandle(accept(listener, nullptr, nullptr), "accept");
    CheckSocketCall(WSAAsyncSelect(server, window, WM_SOCKET_EVENT, FD_READ | FD_WRITE | FD_CLOSE),
                    "WSAAsyncSelect(FD_READ|FD_WRITE|FD_CLOSE)");
    Step("FD_ACCEPT on the listener (socket %u); accepted socket %u", static_cast<unsigned>(listener),
         static_cast<unsigned>(server));
    CheckNoError(PumpUntil(client, FD_CONNECT, "FD_CONNECT"), "FD_CONNECT");
    PumpUntil(client, FD_WRITE, "FD_WRITE");
    Step("FD_CONNECT and FD_WRITE on the client");

    int sent = CheckSocketCall(send(client, kMessage, sizeof kMessage - 1, 0), "send");
    PumpUntil(server, FD_READ, "FD_READ on the server");
    char buffer[64];
    int got = CheckSocketCall(recv(server, buffer, sizeof buffer, 0), "recv");
    Check(got == sent && memcmp(buffer, kMessage, got) == 0, "the server read %d bytes", got);
    Step("FD_READ on the server; recv got %d bytes", got);

    CheckSocketCall(send(server, buffer, got, 0), "send of the echo");
    PumpUntil(client, FD_READ, "FD_READ on the client");
    got = CheckSocketCall(recv(client, buffer, sizeof buffer, 0), "recv of the echo");
    Check(got == sent && memcmp(buffer, kMessage, got) == 0, "the echo came back as %d bytes", got);
    Step("FD_READ on the client; the echo matches");

    CheckSocketCall(shutdown(client, SD_SEND), "shutdown");
    CheckNoError(PumpUntil(server, FD_CLOSE, "FD_CLOSE on the server"), "FD_CLOSE");
    Step("FD_CLOSE on the server after the client shut down its sending side");

    CheckAllHandles(listener, client, server);
    closesocket(server);
    closesocket(client);
    closesocket(listener);
    DestroyWindow(window);
    return SampleFinish();
}
