// WSAPoll through the drop-in on loopback sockets of the base provider: the count, events and
// error a program gets, which are those of Wine's own WSAPoll (and of Windows). A provider that
// names no base handle is polled through its select.
#include "ProbeFixture.h"

#include <initializer_list>

namespace {

constexpr SHORT everyInput = POLLRDNORM | POLLRDBAND | POLLWRNORM;

struct Polled {
    int result;
    int error;
    SHORT revents[2];
};

Polled PollOnce(std::initializer_list<WSAPOLLFD> asked, int timeout)
{
    WSAPOLLFD fds[2] = {};
    ULONG count = 0;
    for (const WSAPOLLFD& fd : asked) {
        fds[count] = fd;
        fds[count++].revents = static_cast<SHORT>(0xdead);
    }
    Polled polled{};
    WSASetLastError(0xdeadbeef);
    polled.result = WSAPoll(fds, count, timeout);
    polled.error = WSAGetLastError();
    for (ULONG i = 0; i < count; ++i)
        polled.revents[i] = fds[i].revents;
    return polled;
}

// The events of one socket after a poll of up to a second for mask.
SHORT EventsOf(SOCKET s, SHORT mask)
{
    Polled polled = PollOnce({{s, mask, 0}}, 1000);
    EXPECT_EQ(polled.result, polled.revents[0] ? 1 : 0);
    return polled.revents[0];
}

DWORD WINAPI CloseSoon(void* socket)
{
    Sleep(200);
    closesocket(*static_cast<SOCKET*>(socket));
    return 0;
}

class Poll : public CatalogTest {
protected:
    void SetUp() override
    {
        CatalogTest::SetUp();
        DeleteStoredCatalog(); // the base provider alone
        WSADATA data;
        ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
        listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        ASSERT_NE(listener, INVALID_SOCKET);
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int length = sizeof address;
        ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
        ASSERT_EQ(listen(listener, 4), 0);
    }
    void TearDown() override
    {
        for (SOCKET s : {client, server, listener})
            if (s != INVALID_SOCKET)
                closesocket(s);
        WSACleanup();
        CatalogTest::TearDown();
    }
    void Connect()
    {
        client = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        ASSERT_NE(client, INVALID_SOCKET);
        ASSERT_EQ(connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address), 0)
            << WSAGetLastError();
        server = accept(listener, nullptr, nullptr);
        ASSERT_NE(server, INVALID_SOCKET) << WSAGetLastError();
    }

    SOCKET listener = INVALID_SOCKET;
    SOCKET client = INVALID_SOCKET;
    SOCKET server = INVALID_SOCKET;
    sockaddr_in address{};
};

TEST_F(Poll, HandlesNoProviderKnows)
{
    const SOCKET unknown = 0xabacab;
    const SOCKET none = INVALID_SOCKET;
    struct Row {
        const char* name;
        WSAPOLLFD first, second;
        int result, error;
        SHORT revents[2];
    } rows[] = {
        // A handle that is no socket is reported, and asks for nothing it cannot have.
        {"INVALID_SOCKET beside a quiet listener", {none, POLLERR, 0}, {listener, POLLIN, 0}, 0, 0,
         {POLLNVAL, 0}},
        {"unknown handle beside a quiet listener", {listener, POLLIN, 0}, {unknown, POLLIN, 0}, 0,
         0, {0, POLLNVAL}},
        {"no socket at all", {none, POLLERR, 0}, {unknown, POLLERR, 0}, SOCKET_ERROR, WSAENOTSOCK,
         {POLLNVAL, POLLNVAL}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Polled polled = PollOnce({row.first, row.second}, 0);
        EXPECT_EQ(polled.result, row.result);
        EXPECT_EQ(polled.error, row.error);
        EXPECT_EQ(polled.revents[0], row.revents[0]);
        EXPECT_EQ(polled.revents[1], row.revents[1]);
    }
}

TEST_F(Poll, EventsOfListenedAndConnectedSockets)
{
    SOCKET waiting = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    ASSERT_EQ(connect(waiting, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    // A connection waiting to be accepted is normal data only.
    EXPECT_EQ(EventsOf(listener, everyInput), POLLRDNORM);
    EXPECT_EQ(EventsOf(listener, POLLRDBAND | POLLWRNORM), 0);
    closesocket(waiting);
    SOCKET accepted = accept(listener, nullptr, nullptr);
    closesocket(accepted);

    Connect();
    EXPECT_EQ(EventsOf(server, everyInput), POLLWRNORM);
    // Urgent data is POLLRDBAND alone.
    ASSERT_EQ(send(client, "A", 1, MSG_OOB), 1);
    EXPECT_EQ(EventsOf(server, POLLRDNORM | POLLRDBAND), POLLRDBAND);
    char byte = 0;
    ASSERT_EQ(recv(server, &byte, 1, MSG_OOB), 1);
    // A peer that has gone is POLLHUP, asked for or not.
    closesocket(client);
    client = INVALID_SOCKET;
    EXPECT_EQ(EventsOf(server, 0), POLLHUP);
    EXPECT_EQ(EventsOf(server, everyInput), POLLWRNORM | POLLHUP);
}

TEST_F(Poll, SocketClosedWhilePolled)
{
    Connect();
    HANDLE closer = CreateThread(nullptr, 0, CloseSoon, &client, 0, nullptr);
    ASSERT_NE(closer, nullptr);
    Polled polled = PollOnce({{client, POLLRDNORM | POLLRDBAND, 0}}, 2000);
    EXPECT_EQ(polled.result, 1);
    EXPECT_EQ(polled.revents[0], POLLNVAL);
    EXPECT_EQ(WaitForSingleObject(closer, 2000), WAIT_OBJECT_0);
    CloseHandle(closer);
    client = INVALID_SOCKET;
}

// The probe provider answers no SIO_BSP_HANDLE_POLL, and its select leaves every set as given.
TEST_F(ProbeRouting, PollOfAProviderWithoutBaseHandlesGoesToItsSelect)
{
    SOCKET s = ProbeSocket();
    Polled polled = PollOnce({{s, POLLRDNORM | POLLWRNORM, 0}}, 0);
    EXPECT_EQ(polled.result, 1);
    EXPECT_EQ(polled.revents[0], POLLRDNORM | POLLWRNORM | POLLERR)
        << "read, write and except sets as the select left them";
    closesocket(s);
}

} // namespace
