// The reports of the socket control calls: options, shutdown and event selection, and the
// notification state they leave for the connect and data texts.
#include "LayerHarness.h"
#include "Channel.h"
#include "Entries.h"
#include "Formatting.h"
#include <algorithm>

class ControlCallsTest : public ViewerLayerTest {
protected:
    void SetUp() override
    {
        ViewerLayerTest::SetUp();
        ASSERT_EQ(0, StartLayer(&table));
        s = WSPSocket(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, 0, &error);
        ASSERT_NE(INVALID_SOCKET, s);
        TraceTo(viewer, Low);   // the control texts appear at every level
        viewer.ClearRecords();
    }
    static std::string E(int code)
    {
        char scratch[32];
        return ErrorText(code, scratch);
    }
    SOCKET s = INVALID_SOCKET;
};

TEST_F(ControlCallsTest, OptionsShowTheirValueOnlyWhenTheCallSucceeded)
{
    int value = 0, length = sizeof(value);
    base->optionValue = 65536;
    EXPECT_EQ(0, table.lpWSPGetSockOpt(s, SOL_SOCKET, SO_RCVBUF,
                                       reinterpret_cast<char*>(&value), &length, &error));
    EXPECT_EQ(65536, value);
    base->connectionError = WSAENOPROTOOPT;
    length = sizeof(value);
    EXPECT_EQ(SOCKET_ERROR, table.lpWSPGetSockOpt(s, SOL_SOCKET, SO_RCVBUF,
                                                  reinterpret_cast<char*>(&value), &length, &error));
    base->connectionError = 0;
    EXPECT_EQ(SOCKET_ERROR, table.lpWSPGetSockOpt(UnknownHandle, SOL_SOCKET, SO_TYPE,
                                                  reinterpret_cast<char*>(&value), &length, &error));
    EXPECT_EQ(WSAENOTSOCK, error);

    // The protocol record comes from below, which refuses a short buffer.
    std::vector<char> info(sizeof(WSAPROTOCOL_INFOW));
    length = sizeof(WSAPROTOCOL_INFOW) - 1;
    EXPECT_EQ(SOCKET_ERROR,
              table.lpWSPGetSockOpt(s, SOL_SOCKET, SO_PROTOCOL_INFOW, info.data(), &length, &error));
    EXPECT_EQ(WSAEFAULT, error);

    BOOL on = TRUE;
    linger lingering = {1, 30};
    EXPECT_EQ(0, table.lpWSPSetSockOpt(s, SOL_SOCKET, SO_REUSEADDR,
                                       reinterpret_cast<const char*>(&on), sizeof(on), &error));
    EXPECT_EQ(0, table.lpWSPSetSockOpt(s, SOL_SOCKET, SO_LINGER,
                                       reinterpret_cast<const char*>(&lingering),
                                       sizeof(lingering), &error));
    base->setOptionError = WSAEINVAL;
    EXPECT_EQ(SOCKET_ERROR, table.lpWSPSetSockOpt(s, IPPROTO_TCP, TCP_NODELAY,
                                                  reinterpret_cast<const char*>(&on), sizeof(on),
                                                  &error));
    base->setOptionError = 0;

    std::string n = N(s);
    std::vector<std::string> expected = {
        "socket (" + n + ") retrieved one of its options [level=SOL_SOCKET, optname=SO_RCVBUF, "
            "optval=65536, optlen=4]",
        "socket (" + n + ") could not retrieve one of its options [level=SOL_SOCKET, "
            "optname=SO_RCVBUF, optlen=4] - " + E(WSAENOPROTOOPT),
        "socket (" + N(UnknownHandle) + ") could not retrieve one of its options "
            "[level=SOL_SOCKET, optname=SO_TYPE, optlen=4] - " + E(WSAENOTSOCK),
        "socket (" + n + ") could not retrieve one of its options [level=SOL_SOCKET, "
            "optname=8197, optlen=627] - " + E(WSAEFAULT),
        "socket (" + n + ") set one of its options [level=SOL_SOCKET, optname=SO_REUSEADDR, "
            "optval=true, optlen=4]",
        "socket (" + n + ") set one of its options [level=SOL_SOCKET, optname=SO_LINGER, "
            "l_onoff=1, l_linger=30, optlen=4]",
        "socket (" + n + ") could not set one of its options [level=IPPROTO_TCP, "
            "optname=1, optlen=4] - " + E(WSAEINVAL),   // TCP_NODELAY has no name here
    };
    EXPECT_EQ(expected, TextsOf(viewer.Records()));
}

TEST_F(ControlCallsTest, AcceptContextUpdateNamesTheListenerBelowAndCarriesItsState)
{
    SOCKET listener = WSPSocket(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                                WSA_FLAG_OVERLAPPED, &error);
    SocketContext* listening = ContextOf(listener);
    listening->blocking = 0;
    listening->eventMask = FD_READ;
    // An application may give more room than one handle; only the handle goes down.
    SOCKET value[2] = {listener, 0};
    EXPECT_EQ(0, table.lpWSPSetSockOpt(s, SOL_SOCKET, SO_UPDATE_ACCEPT_CONTEXT,
                                       reinterpret_cast<const char*>(value), sizeof(value),
                                       &error));
    EXPECT_EQ(listening->lowerSocket, base->lastOptionValue);
    EXPECT_EQ(static_cast<int>(sizeof(SOCKET)), base->lastOptionLength);
    EXPECT_EQ(0, ContextOf(s)->blocking);
    EXPECT_EQ(FD_READ, ContextOf(s)->eventMask);
    EXPECT_EQ(static_cast<DWORD>(WSA_FLAG_OVERLAPPED), ContextOf(s)->flags);

    value[0] = UnknownHandle;
    EXPECT_EQ(SOCKET_ERROR, table.lpWSPSetSockOpt(s, SOL_SOCKET, SO_UPDATE_ACCEPT_CONTEXT,
                                                  reinterpret_cast<const char*>(value),
                                                  sizeof(SOCKET), &error));
    EXPECT_EQ(WSAENOTSOCK, error);
    EXPECT_EQ(SOCKET_ERROR, table.lpWSPSetSockOpt(s, SOL_SOCKET, SO_UPDATE_ACCEPT_CONTEXT,
                                                  nullptr, sizeof(SOCKET), &error));
    EXPECT_EQ(WSAEFAULT, error) << "an unreadable value is the application's fault, not a crash";
    auto texts = TextsOf(viewer.Records());
    ASSERT_EQ(4u, texts.size());
    EXPECT_NE(std::string::npos, texts[1].find("set one of its options [level=SOL_SOCKET"));
    EXPECT_NE(std::string::npos, texts[2].find("could not set one of its options"));
    EXPECT_NE(std::string::npos, texts[2].find(E(WSAENOTSOCK)));
}

TEST_F(ControlCallsTest, ShutdownTextsByHow)
{
    for (int how : {SD_RECEIVE, SD_SEND, SD_BOTH, 3})
        EXPECT_EQ(0, table.lpWSPShutdown(s, how, &error));
    base->connectionError = WSAENOTCONN;
    for (int how : {SD_RECEIVE, SD_SEND, SD_BOTH, 3})
        EXPECT_EQ(SOCKET_ERROR, table.lpWSPShutdown(s, how, &error));
    base->connectionError = 0;
    EXPECT_EQ(SOCKET_ERROR, table.lpWSPShutdown(UnknownHandle, SD_SEND, &error));

    std::string n = N(s), notConnected = " - " + E(WSAENOTCONN);
    std::vector<std::string> expected = {
        "socket (" + n + ") disabled its receives",
        "socket (" + n + ") disabled its sends",
        "socket (" + n + ") disabled its sends and receives",
        "socket (" + n + ") could not disable its receives" + notConnected,
        "socket (" + n + ") could not disable its sends" + notConnected,
        "socket (" + n + ") could not disable its sends and receives" + notConnected,
        "socket (" + n + ") could not disable its sends and/or receives" + notConnected,
        "socket (" + N(UnknownHandle) + ") could not disable its sends - " + E(WSAENOTSOCK),
    };
    EXPECT_EQ(expected, TextsOf(viewer.Records())) << "how 3 that succeeds says nothing";
}

TEST_F(ControlCallsTest, EventSelectClearsTheWindowAndMakesTheSocketNonBlocking)
{
    SocketContext* context = ContextOf(s);
    context->asyncWindow = reinterpret_cast<HWND>(0x1234);
    WSAEVENT event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    base->connectionError = WSAEINVAL;
    EXPECT_EQ(SOCKET_ERROR, table.lpWSPEventSelect(s, event, FD_READ | FD_CLOSE, &error));
    EXPECT_EQ(1, context->blocking) << "a failed select changes nothing";
    base->connectionError = 0;
    EXPECT_EQ(0, table.lpWSPEventSelect(s, event, FD_READ | FD_CLOSE, &error));
    EXPECT_EQ(nullptr, context->asyncWindow);
    EXPECT_EQ(0, context->blocking);
    EXPECT_EQ(FD_READ | FD_CLOSE, context->eventMask);
    EXPECT_EQ(FD_READ | FD_CLOSE, base->selectEvents);

    char handle[16];
    sprintf(handle, "%X", static_cast<unsigned>(reinterpret_cast<ULONG_PTR>(event)));
    std::string arguments = std::string("[hEventObject=") + handle + ", lEvent=FD_READ|FD_CLOSE]";
    std::vector<std::string> expected = {
        "socket (" + N(s) + ") could not specify an event object to be associated with the "
            "supplied set of network events and enable its nonblocking mode " + arguments +
            " - " + E(WSAEINVAL),
        "socket (" + N(s) + ") specified an event object to be associated with the supplied set "
            "of network events and enabled its nonblocking mode " + arguments,
    };
    EXPECT_EQ(expected, TextsOf(viewer.Records()));
    CloseHandle(event);
}

TEST_F(ControlCallsTest, ControlCodesReportTheThreeTheyKnowAndNothingElse)
{
    DWORD value = 1, out = 0, returned = 0;
    auto ioctl = [&](SOCKET socket, DWORD code) {
        return table.lpWSPIoctl(socket, code, &value, sizeof(value), &out, sizeof(out), &returned,
                                nullptr, nullptr, nullptr, &error);
    };
    EXPECT_EQ(0, ioctl(s, FIONBIO));
    EXPECT_EQ(0, ContextOf(s)->blocking);
    char space[8];
    WSABUF buffers[1] = {{sizeof(space), space}};
    DWORD got = 0, flags = 0;
    EXPECT_EQ(0, table.lpWSPRecv(s, buffers, 1, &got, &flags, nullptr, nullptr, nullptr, &error));
    value = 0;
    EXPECT_EQ(0, ioctl(s, FIONBIO));
    EXPECT_EQ(1, ContextOf(s)->blocking);
    base->connectionError = WSAENETDOWN;
    value = 1;
    EXPECT_EQ(SOCKET_ERROR, ioctl(s, FIONBIO));
    EXPECT_EQ(1, ContextOf(s)->blocking) << "a refused mode change keeps the mode";
    EXPECT_EQ(SOCKET_ERROR, ioctl(s, FIONREAD)) << "reported even at Low";
    EXPECT_EQ(SOCKET_ERROR, ioctl(s, SIO_FLUSH)) << "not reported";
    base->connectionError = 0;
    base->optionValue = 1234;
    EXPECT_EQ(0, ioctl(s, FIONREAD)) << "a count is not shown at Low";
    EXPECT_EQ(1234u, out);
    EXPECT_EQ(0, ioctl(s, SIO_FLUSH));
    base->optionValue = 1;
    EXPECT_EQ(0, ioctl(s, SIOCATMARK));
    base->optionValue = 0;
    EXPECT_EQ(0, ioctl(s, SIOCATMARK));
    EXPECT_EQ(SOCKET_ERROR, ioctl(UnknownHandle, FIONBIO));
    EXPECT_EQ(WSAENOTSOCK, error);
    TraceTo(viewer, Medium);
    base->optionValue = 1234;
    EXPECT_EQ(0, ioctl(s, FIONREAD));

    std::string n = N(s);
    std::vector<std::string> expected = {
        "socket (" + n + ") enabled its nonblocking mode",
        "socket (" + n + ") disabled its nonblocking mode",
        "socket (" + n + ") could not enable its nonblocking mode - " + E(WSAENETDOWN),
        "socket (" + n + ") could not determine how many bytes it can receive atomically - " +
            E(WSAENETDOWN),
        "socket (" + n + ") does not have any OOB data waiting to be read",
        "socket (" + n + ") has OOB data waiting to be read",
        "socket (" + N(UnknownHandle) + ") could not enable its nonblocking mode - " +
            E(WSAENOTSOCK),
        "socket (" + n + ") can receive 1234 bytes atomically",
    };
    auto texts = TextsOf(viewer.Records());
    // At Low the receive is a data record without text; its mode shows at Medium only.
    texts.erase(std::remove(texts.begin(), texts.end(), std::string()), texts.end());
    EXPECT_EQ(expected, texts);
}

TEST_F(ControlCallsTest, ANonBlockingSocketsReceiveSaysSo)
{
    TraceTo(viewer, Medium);
    DWORD on = 1, returned = 0;
    ASSERT_EQ(0, table.lpWSPIoctl(s, FIONBIO, &on, sizeof(on), nullptr, 0, &returned, nullptr,
                                  nullptr, nullptr, &error));
    char space[8];
    WSABUF buffers[1] = {{sizeof(space), space}};
    DWORD got = 0, flags = 0;
    EXPECT_EQ(0, table.lpWSPRecv(s, buffers, 1, &got, &flags, nullptr, nullptr, nullptr, &error));
    auto texts = TextsOf(viewer.Records());
    ASSERT_GE(texts.size(), 2u);
    EXPECT_EQ("socket (" + N(s) + ") receiving data synchronously without blocking [len=8]",
              texts[1]);
}

TEST_F(ControlCallsTest, TheTargetHandleIsTheLayersOwnAnswer)
{
    SOCKET target = 0;
    DWORD returned = 0;
    EXPECT_EQ(0, table.lpWSPIoctl(s, SIO_QUERY_TARGET_PNP_HANDLE, nullptr, 0, &target,
                                  sizeof(target), &returned, nullptr, nullptr, nullptr, &error));
    EXPECT_EQ(ContextOf(s)->lowerSocket, target);
    EXPECT_EQ(sizeof(SOCKET), returned);
    EXPECT_EQ(0u, base->lastControlCode) << "never asked below";
    EXPECT_EQ(SOCKET_ERROR, table.lpWSPIoctl(s, SIO_QUERY_TARGET_PNP_HANDLE, nullptr, 0, &target,
                                             2, &returned, nullptr, nullptr, nullptr, &error));
    EXPECT_EQ(WSAEFAULT, error);
    EXPECT_EQ(SOCKET_ERROR, table.lpWSPIoctl(s, SIO_QUERY_TARGET_PNP_HANDLE, nullptr, 0,
                                             reinterpret_cast<void*>(16), sizeof(target),
                                             &returned, nullptr, nullptr, nullptr, &error));
    EXPECT_EQ(WSAEFAULT, error) << "an output the application cannot have is refused, not written";
    EXPECT_TRUE(viewer.Records().empty());
}
