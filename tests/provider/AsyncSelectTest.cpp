// Message-based notification through the layer's hidden window: the provider below posts to it
// with its own socket, the application receives its own message with its own handle.
#include "LayerHarness.h"
#include "Channel.h"
#include "Entries.h"
#include "Formatting.h"
#include "HiddenWindow.h"

const UINT AppMessage = WM_APP + 5;

// A message-only window of the test thread that keeps what it is posted.
class NotifiedWindow {
public:
    struct Notification {
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
    };
    NotifiedWindow()
    {
        window = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr,
                                 nullptr);
    }
    ~NotifiedWindow() { DestroyWindow(window); }
    HWND Handle() const { return window; }
    // Pumps the thread's queue until count notifications came or the time is up.
    std::vector<Notification> WaitFor(size_t count, DWORD timeoutMilliseconds)
    {
        DWORD start = GetTickCount();
        while (seen.size() < count && GetTickCount() - start < timeoutMilliseconds) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
            MSG message;
            while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
                if (message.hwnd == window && message.message == AppMessage)
                    seen.push_back({message.message, message.wParam, message.lParam});
                else
                    DispatchMessageA(&message);
            }
        }
        return seen;
    }

private:
    HWND window;
    std::vector<Notification> seen;
};

class AsyncSelectTest : public ViewerLayerTest {
protected:
    void SetUp() override
    {
        ViewerLayerTest::SetUp();
        ASSERT_EQ(0, StartLayer(&table));
        TraceTo(viewer, Low);
    }
    SOCKET NewSocket()
    {
        return WSPSocket(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, 0, &error);
    }
    int Select(SOCKET s, LONG events)
    {
        return table.lpWSPAsyncSelect(s, app.Handle(), AppMessage, events, &error);
    }
    // What the provider below would post for its own socket.
    void Notify(SOCKET lowerSocket, WORD event, WORD errorCode)
    {
        PostMessageA(base->selectWindow, HiddenNotifyMessage, lowerSocket,
                     WSAMAKESELECTREPLY(event, errorCode));
    }
    NotifiedWindow app;
};

TEST_F(AsyncSelectTest, OneHiddenWindowForwardsEveryNotificationWithTheApplicationsHandle)
{
    SOCKET first = NewSocket(), second = NewSocket();
    SOCKET lowerFirst = ContextOf(first)->lowerSocket, lowerSecond = ContextOf(second)->lowerSocket;
    viewer.ClearRecords();
    ASSERT_EQ(0, Select(first, FD_READ | FD_CLOSE));
    HWND hidden = base->selectWindow;
    EXPECT_EQ(HiddenNotifyMessage, base->selectMessage);
    EXPECT_EQ(FD_READ | FD_CLOSE, base->selectEvents);
    ASSERT_EQ(0, Select(second, FD_WRITE));
    EXPECT_EQ(hidden, base->selectWindow) << "one window serves every socket";
    ASSERT_TRUE(IsWindow(hidden));
    DWORD hiddenThread = GetWindowThreadProcessId(hidden, nullptr);
    EXPECT_NE(GetCurrentThreadId(), hiddenThread) << "the window lives on a thread of its own";

    EXPECT_EQ(0, ContextOf(first)->blocking);
    EXPECT_EQ(FD_READ | FD_CLOSE, ContextOf(first)->eventMask);

    Notify(lowerFirst, FD_READ, 0);
    Notify(lowerSecond, FD_WRITE, 0);
    Notify(lowerFirst, FD_CLOSE, WSAECONNRESET);
    auto seen = app.WaitFor(3, 5000);
    ASSERT_EQ(3u, seen.size());
    EXPECT_EQ(static_cast<WPARAM>(first), seen[0].wParam);
    EXPECT_EQ(WSAMAKESELECTREPLY(FD_READ, 0), seen[0].lParam);
    EXPECT_EQ(static_cast<WPARAM>(second), seen[1].wParam);
    EXPECT_EQ(static_cast<WPARAM>(first), seen[2].wParam);
    EXPECT_EQ(WSAMAKESELECTREPLY(FD_CLOSE, WSAECONNRESET), seen[2].lParam)
        << "event and error arrive unchanged";

    char window[16];
    sprintf(window, "%X", static_cast<unsigned>(reinterpret_cast<ULONG_PTR>(app.Handle())));
    std::string arguments = std::string("[hWnd=") + window + ", wMsg=" + std::to_string(AppMessage);
    std::vector<std::string> expected = {
        "socket (" + N(first) + ") requested message-based event notification and enabled its "
            "nonblocking mode " + arguments + ", lEvent=FD_READ|FD_CLOSE]",
        "socket (" + N(second) + ") requested message-based event notification and enabled its "
            "nonblocking mode " + arguments + ", lEvent=FD_WRITE]",
    };
    EXPECT_EQ(expected, TextsOf(viewer.Records())) << "notifications themselves are not reported";
}

TEST_F(AsyncSelectTest, RefusesABadWindowOrEventMaskBeforeLookingAtTheSocket)
{
    char scratch[2][32];
    std::string invalid = ErrorText(WSAEINVAL, scratch[0]);
    EXPECT_EQ(SOCKET_ERROR, table.lpWSPAsyncSelect(UnknownHandle, app.Handle(), AppMessage,
                                                   0x400, &error));
    EXPECT_EQ(WSAEINVAL, error) << "the mask is checked before the socket";
    SOCKET s = NewSocket();
    EXPECT_EQ(SOCKET_ERROR, table.lpWSPAsyncSelect(s, reinterpret_cast<HWND>(0x1234), AppMessage,
                                                   FD_READ, &error));
    EXPECT_EQ(WSAEINVAL, error);
    EXPECT_EQ(SOCKET_ERROR, Select(UnknownHandle, FD_READ));
    EXPECT_EQ(WSAENOTSOCK, error);
    EXPECT_EQ(nullptr, base->selectWindow) << "nothing of a refused select reached below";
    base->connectionError = WSAENETDOWN;
    EXPECT_EQ(SOCKET_ERROR, Select(s, FD_ACCEPT));
    EXPECT_EQ(WSAENETDOWN, error);
    EXPECT_EQ(1, ContextOf(s)->blocking) << "a failed select leaves the socket blocking";

    auto texts = TextsOf(viewer.Records());
    ASSERT_EQ(5u, texts.size());   // a failure, the created record, three more failures
    EXPECT_NE(std::string::npos, texts[0].find("could not request message-based event "
                                               "notification and enable its nonblocking mode"));
    EXPECT_NE(std::string::npos, texts[0].find("lEvent=0] - " + invalid));
    EXPECT_NE(std::string::npos, texts[3].find(ErrorText(WSAENOTSOCK, scratch[1])));
}

// An accepted socket may be notified before the accept has given it its context: the window
// waits for the context. A notification whose socket no accept can still bring (one closed
// while its notification was queued) is dropped at once, not after seconds of retries that
// would hold up every other socket's notifications.
TEST_F(AsyncSelectTest, EarlyNotificationWaitsForItsContextAndAStrayOneIsDropped)
{
    SOCKET listener = NewSocket();
    ASSERT_EQ(0, Select(listener, FD_ACCEPT | FD_READ));
    base->notifyOnAccept = WSAMAKESELECTREPLY(FD_READ, 0);
    SOCKET accepted = table.lpWSPAccept(listener, nullptr, nullptr, nullptr, 0, &error);
    ASSERT_NE(INVALID_SOCKET, accepted);
    auto seen = app.WaitFor(1, 5000);
    ASSERT_EQ(1u, seen.size());
    EXPECT_EQ(static_cast<WPARAM>(accepted), seen[0].wParam)
        << "the accepted socket inherits the listener's window and message";
    EXPECT_EQ(WSAMAKESELECTREPLY(FD_READ, 0), seen[0].lParam);

    const SOCKET neverMade = 0x9999;
    DWORD start = GetTickCount();
    Notify(neverMade, FD_READ, 0);
    Notify(ContextOf(listener)->lowerSocket, FD_ACCEPT, 0);
    seen = app.WaitFor(2, 10000);
    DWORD waited = GetTickCount() - start;
    ASSERT_EQ(2u, seen.size()) << "the notification after the stray one still arrives";
    EXPECT_EQ(static_cast<WPARAM>(listener), seen[1].wParam);
    // Retries would have held it for four seconds.
    EXPECT_LT(waited, 3000u);
    EXPECT_TRUE(app.WaitFor(3, 300).size() == 2) << "nothing is posted for the stray socket";
}

// A start after the last cleanup of the same process gets a working window again, though the
// window class of the first one may still be registered.
TEST_F(AsyncSelectTest, AStartAfterTheLastCleanupGetsAWorkingWindowAgain)
{
    SOCKET s = NewSocket();
    ASSERT_EQ(0, Select(s, FD_READ));
    HWND firstWindow = base->selectWindow;
    ASSERT_EQ(0, WSPCleanup(&error));
    // The stop does not wait for the window, which goes soon after.
    for (int i = 0; i < 100 && IsWindow(firstWindow); i++)
        Sleep(50);
    EXPECT_FALSE(IsWindow(firstWindow));

    for (int round = 0; round < 2; round++) {
        SCOPED_TRACE(round);
        ASSERT_EQ(0, StartLayer(&table));
        s = NewSocket();
        ASSERT_EQ(0, Select(s, FD_READ));
        ASSERT_TRUE(IsWindow(base->selectWindow));
        size_t before = app.WaitFor(0, 0).size();
        Notify(ContextOf(s)->lowerSocket, FD_READ, 0);
        auto seen = app.WaitFor(before + 1, 5000);
        ASSERT_EQ(before + 1, seen.size());
        EXPECT_EQ(static_cast<WPARAM>(s), seen.back().wParam);
        // The second round starts again at once, while the first window may still be going.
        ASSERT_EQ(0, WSPCleanup(&error));
    }
    ASSERT_EQ(0, StartLayer(&table));
}
