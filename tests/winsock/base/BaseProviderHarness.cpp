#include "BaseProviderHarness.h"

#include "WinsockLayerIds.h"

#include <cstring>
#include <string>

UpcallLog upcallLog;

namespace {

SOCKET WSPAPI RecordModifyIFSHandle(DWORD catalogId, SOCKET proposed, LPINT lpErrno)
{
    if (upcallLog.refuseRegistrationWith) {
        *lpErrno = upcallLog.refuseRegistrationWith;
        return INVALID_SOCKET;
    }
    upcallLog.registered.push_back({catalogId, proposed});
    return proposed;
}

// The base provider's real handles need no other upcall; any call is counted as a fault.
template <typename Result, typename... Args> Result WSPAPI CountOther(Args...)
{
    ++upcallLog.otherUpcalls;
    return Result{};
}

WSPUPCALLTABLE RecordingUpcalls()
{
    WSPUPCALLTABLE t{};
    t.lpWPUCloseEvent = CountOther<BOOL, WSAEVENT, LPINT>;
    t.lpWPUCloseSocketHandle = CountOther<int, SOCKET, LPINT>;
    t.lpWPUCreateEvent = CountOther<WSAEVENT, LPINT>;
    t.lpWPUCreateSocketHandle = CountOther<SOCKET, DWORD, DWORD_PTR, LPINT>;
    t.lpWPUFDIsSet = CountOther<int, SOCKET, fd_set*>;
    t.lpWPUGetProviderPath = CountOther<int, LPGUID, WCHAR*, LPINT, LPINT>;
    t.lpWPUModifyIFSHandle = RecordModifyIFSHandle;
    t.lpWPUPostMessage = CountOther<BOOL, HWND, UINT, WPARAM, LPARAM>;
    t.lpWPUQueryBlockingCallback = CountOther<int, DWORD, LPBLOCKINGCALLBACK*, PDWORD_PTR, LPINT>;
    t.lpWPUQuerySocketHandleContext = CountOther<int, SOCKET, PDWORD_PTR, LPINT>;
    t.lpWPUQueueApc = CountOther<int, LPWSATHREADID, LPWSAUSERAPC, DWORD_PTR, LPINT>;
    t.lpWPUResetEvent = CountOther<BOOL, WSAEVENT, LPINT>;
    t.lpWPUSetEvent = CountOther<BOOL, WSAEVENT, LPINT>;
    t.lpWPUOpenCurrentThread = CountOther<int, LPWSATHREADID, LPINT>;
    t.lpWPUCloseThread = CountOther<int, LPWSATHREADID, LPINT>;
    return t;
}

} // namespace

WSAPROTOCOL_INFOW BaseEntry(int family, int type)
{
    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 2), &wsa);
    WSAPROTOCOL_INFOW found{};
    std::vector<WSAPROTOCOL_INFOW> infos(64);
    DWORD length = infos.size() * sizeof infos[0];
    int count = WSAEnumProtocolsW(nullptr, infos.data(), &length);
    for (int i = 0; i < count; ++i) {
        if (infos[i].iAddressFamily == family && infos[i].iSocketType == type) {
            found = infos[i];
            break;
        }
    }
    WSACleanup();
    found.ProviderId = BaseProviderId;
    found.dwCatalogEntryId = baseCatalogIds[(family == AF_INET6) * 2 + (type == SOCK_DGRAM)];
    found.ProtocolChain.ChainLen = BASE_PROTOCOL;
    found.dwServiceFlags1 |= XP1_IFS_HANDLES;
    return found;
}

sockaddr_storage Loopback(int family, u_short port)
{
    sockaddr_storage address{};
    if (family == AF_INET6) {
        auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
        v6->sin6_family = AF_INET6;
        v6->sin6_addr = in6addr_loopback;
        v6->sin6_port = htons(port);
    } else {
        auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
        v4->sin_family = AF_INET;
        v4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        v4->sin_port = htons(port);
    }
    return address;
}

int AddressLength(int family)
{
    return family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
}

void BaseProviderTest::SetUp()
{
    upcallLog = UpcallLog{};
    tcp4 = BaseEntry(AF_INET, SOCK_STREAM);
    tcp6 = BaseEntry(AF_INET6, SOCK_STREAM);
    udp4 = BaseEntry(AF_INET, SOCK_DGRAM);
    udp6 = BaseEntry(AF_INET6, SOCK_DGRAM);
    module = LoadLibraryW(L"basewsp.dll");
    ASSERT_NE(module, nullptr) << "error " << GetLastError();
    ASSERT_EQ(Start(MAKEWORD(2, 2), tcp4), 0);
}

void BaseProviderTest::TearDown()
{
    while (starts > 0) {
        int error = 0xdeadbeef;
        EXPECT_EQ(table.lpWSPCleanup(&error), 0) << "error " << error;
        --starts;
    }
    if (module)
        FreeLibrary(module);
    EXPECT_EQ(upcallLog.otherUpcalls, 0);
}

int BaseProviderTest::Start(WORD version, const WSAPROTOCOL_INFOW& entry)
{
    auto startup = reinterpret_cast<LPWSPSTARTUP>(
        reinterpret_cast<void*>(GetProcAddress(module, "WSPStartup")));
    if (!startup)
        return -1;
    WSAPROTOCOL_INFOW info = entry;
    int result = startup(version, &data, &info, RecordingUpcalls(), &table);
    if (result == 0)
        ++starts;
    return result;
}

SOCKET BaseProviderTest::Socket(const WSAPROTOCOL_INFOW& entry, DWORD flags)
{
    WSAPROTOCOL_INFOW info = entry;
    int error = 0xdeadbeef;
    SOCKET s = table.lpWSPSocket(entry.iAddressFamily, entry.iSocketType, entry.iProtocol, &info,
                                 0, flags, &error);
    EXPECT_NE(s, INVALID_SOCKET) << "error " << error;
    // A lost datagram or a missing peer fails the test instead of hanging it.
    DWORD timeout = 5000;
    EXPECT_EQ(table.lpWSPSetSockOpt(s, SOL_SOCKET, SO_RCVTIMEO,
                                    reinterpret_cast<const char*>(&timeout), sizeof timeout,
                                    &error),
              0)
        << "error " << error;
    return s;
}

SOCKET BaseProviderTest::Listener(const WSAPROTOCOL_INFOW& entry, sockaddr_storage* address)
{
    SOCKET s = Socket(entry);
    int error = 0xdeadbeef;
    *address = Loopback(entry.iAddressFamily);
    int length = AddressLength(entry.iAddressFamily);
    EXPECT_EQ(table.lpWSPBind(s, reinterpret_cast<sockaddr*>(address), length, &error), 0)
        << "error " << error;
    EXPECT_EQ(table.lpWSPGetSockName(s, reinterpret_cast<sockaddr*>(address), &length, &error), 0)
        << "error " << error;
    if (entry.iSocketType == SOCK_STREAM) {
        EXPECT_EQ(table.lpWSPListen(s, 4, &error), 0) << "error " << error;
    }
    return s;
}

void BaseProviderTest::ConnectedPair(const WSAPROTOCOL_INFOW& entry, SOCKET* client,
                                     SOCKET* server)
{
    sockaddr_storage address;
    SOCKET listener = Listener(entry, &address);
    *client = Socket(entry);
    int error = 0xdeadbeef;
    EXPECT_EQ(table.lpWSPConnect(*client, reinterpret_cast<sockaddr*>(&address),
                                 AddressLength(entry.iAddressFamily), nullptr, nullptr, nullptr,
                                 nullptr, &error),
              0)
        << "error " << error;
    *server = table.lpWSPAccept(listener, nullptr, nullptr, nullptr, 0, &error);
    EXPECT_NE(*server, INVALID_SOCKET) << "error " << error;
    Close(listener);
}

void BaseProviderTest::Close(SOCKET s)
{
    int error = 0xdeadbeef;
    EXPECT_EQ(table.lpWSPCloseSocket(s, &error), 0) << "error " << error;
}

void BaseProviderTest::SendText(SOCKET s, const char* text)
{
    WSABUF buffer{static_cast<ULONG>(strlen(text)), const_cast<char*>(text)};
    DWORD sent = 0xdeadbeef;
    int error = 0xdeadbeef;
    EXPECT_EQ(table.lpWSPSend(s, &buffer, 1, &sent, 0, nullptr, nullptr, nullptr, &error), 0)
        << "error " << error;
    EXPECT_EQ(sent, buffer.len);
}

std::string BaseProviderTest::ReceiveText(SOCKET s, size_t length)
{
    std::string text(length, '\0');
    size_t received = 0;
    while (received < length) {
        WSABUF buffer{static_cast<ULONG>(length - received), text.data() + received};
        DWORD count = 0xdeadbeef, flags = 0;
        int error = 0xdeadbeef;
        if (table.lpWSPRecv(s, &buffer, 1, &count, &flags, nullptr, nullptr, nullptr, &error) !=
            0) {
            ADD_FAILURE() << "receive failed with " << error;
            break;
        }
        if (count == 0)
            break;
        received += count;
    }
    text.resize(received);
    return text;
}
