// select, event selection and window notification on the provider's real handles.
#include "BaseProviderHarness.h"

namespace {

const UINT socketMessage = WM_APP + 7;

HWND CreateNotifyWindow()
{
    static const wchar_t className[] = L"BaseProviderTestWindow";
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = className;
    RegisterClassW(&windowClass);
    return CreateWindowW(className, L"notify", WS_OVERLAPPEDWINDOW, 0, 0, 10, 10, nullptr,
                         nullptr, windowClass.hInstance, nullptr);
}

// Waits up to five seconds for socketMessage; false when none came.
bool NextSocketMessage(HWND window, MSG* message)
{
    DWORD deadline = GetTickCount() + 5000;
    while (GetTickCount() < deadline) {
        if (PeekMessageW(message, window, socketMessage, socketMessage, PM_REMOVE))
            return true;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
    }
    return false;
}

} // namespace

TEST_F(BaseProviderTest, AsyncSelectPostsToTheWindowWithTheHandle)
{
    HWND window = CreateNotifyWindow();
    ASSERT_NE(window, nullptr) << "error " << GetLastError();
    sockaddr_storage address;
    SOCKET listener = Listener(tcp4, &address);
    int error = 0xdeadbeef;
    ASSERT_EQ(table.lpWSPAsyncSelect(listener, window, socketMessage, FD_ACCEPT, &error), 0)
        << "error " << error;

    SOCKET client = Socket(tcp4);
    ASSERT_EQ(table.lpWSPConnect(client, reinterpret_cast<sockaddr*>(&address),
                                 sizeof(sockaddr_in), nullptr, nullptr, nullptr, nullptr, &error),
              0) << "error " << error;
    MSG message;
    ASSERT_TRUE(NextSocketMessage(window, &message));
    EXPECT_EQ(message.wParam, listener);
    EXPECT_EQ(WSAGETSELECTEVENT(message.lParam), FD_ACCEPT);
    EXPECT_EQ(WSAGETSELECTERROR(message.lParam), 0);

    // The accepted socket inherits the selection; data then posts FD_READ for it.
    SOCKET server = table.lpWSPAccept(listener, nullptr, nullptr, nullptr, 0, &error);
    ASSERT_NE(server, INVALID_SOCKET) << "error " << error;
    ASSERT_EQ(table.lpWSPAsyncSelect(server, window, socketMessage, FD_READ | FD_CLOSE, &error),
              0) << "error " << error;
    SendText(client, "ping");
    ASSERT_TRUE(NextSocketMessage(window, &message));
    EXPECT_EQ(message.wParam, server);
    EXPECT_EQ(WSAGETSELECTEVENT(message.lParam), FD_READ);
    Close(client);
    Close(server);
    Close(listener);
    DestroyWindow(window);
}

TEST_F(BaseProviderTest, EventSelectSignalsAndEnumeratesNetworkEvents)
{
    sockaddr_storage address;
    SOCKET listener = Listener(tcp6, &address);
    WSAEVENT event = WSACreateEvent();
    int error = 0xdeadbeef;
    ASSERT_EQ(table.lpWSPEventSelect(listener, event, FD_ACCEPT, &error), 0) << "error " << error;
    EXPECT_EQ(WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_TIMEOUT));

    SOCKET client = Socket(tcp6);
    ASSERT_EQ(table.lpWSPConnect(client, reinterpret_cast<sockaddr*>(&address),
                                 sizeof(sockaddr_in6), nullptr, nullptr, nullptr, nullptr, &error),
              0) << "error " << error;
    ASSERT_EQ(WaitForSingleObject(event, 5000), WAIT_OBJECT_0);
    WSANETWORKEVENTS events;
    memset(&events, 0xde, sizeof events);
    ASSERT_EQ(table.lpWSPEnumNetworkEvents(listener, event, &events, &error), 0)
        << "error " << error;
    EXPECT_EQ(events.lNetworkEvents, FD_ACCEPT);
    EXPECT_EQ(events.iErrorCode[FD_ACCEPT_BIT], 0);
    // Enumerating reset the event.
    EXPECT_EQ(WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    WSACloseEvent(event);
    Close(client);
    Close(listener);
}

TEST_F(BaseProviderTest, SelectReportsReadableAndWritableHandles)
{
    SOCKET client, server;
    ConnectedPair(tcp4, &client, &server);
    fd_set readable, writable;
    FD_ZERO(&readable);
    FD_SET(server, &readable);
    FD_ZERO(&writable);
    FD_SET(client, &writable);
    timeval timeout{0, 0};
    int error = 0xdeadbeef;
    ASSERT_EQ(table.lpWSPSelect(0, &readable, &writable, nullptr, &timeout, &error), 1)
        << "error " << error;
    EXPECT_EQ(readable.fd_count, 0u);
    ASSERT_EQ(writable.fd_count, 1u);
    EXPECT_EQ(writable.fd_array[0], client);

    SendText(client, "x");
    FD_ZERO(&readable);
    FD_SET(server, &readable);
    timeout.tv_sec = 5;
    ASSERT_EQ(table.lpWSPSelect(0, &readable, nullptr, nullptr, &timeout, &error), 1)
        << "error " << error;
    EXPECT_EQ(readable.fd_array[0], server);

    fd_set bogus;
    FD_ZERO(&bogus);
    FD_SET(INVALID_SOCKET - 2, &bogus);
    error = 0xdeadbeef;
    EXPECT_EQ(table.lpWSPSelect(0, &bogus, nullptr, nullptr, &timeout, &error), SOCKET_ERROR);
    EXPECT_EQ(error, WSAENOTSOCK);
    Close(client);
    Close(server);
}
