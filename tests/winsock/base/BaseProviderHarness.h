// Loads basewsp.dll into the test process and drives its procedure table the way the
// Winsock layer would, with a recording upcall table.
#pragma once
#include <winsock2.h>
#include <ws2spi.h>
#include <ws2tcpip.h>

#include <gtest/gtest.h>

#include <vector>

struct RegisteredHandle {
    DWORD catalogId;
    SOCKET handle;
};

// What the provider asked of the layer through its upcalls.
struct UpcallLog {
    std::vector<RegisteredHandle> registered;
    int otherUpcalls = 0;
    // When non-zero, WPUModifyIFSHandle refuses with this error.
    int refuseRegistrationWith = 0;
};

extern UpcallLog upcallLog;

// A catalog entry like the layer's seeded base entries: the values Wine reports for the
// protocol, with the base provider's id, a catalog id of our own and IFS handles.
WSAPROTOCOL_INFOW BaseEntry(int family, int type);

const DWORD baseCatalogIds[] = {1001, 1002, 1003, 1004};

sockaddr_storage Loopback(int family, u_short port = 0);
int AddressLength(int family);

class BaseProviderTest : public testing::Test {
public:
    void SetUp() override;
    void TearDown() override;

    // Starts the provider with the given version for entry; returns WSPStartup's result.
    int Start(WORD version, const WSAPROTOCOL_INFOW& entry);

    SOCKET Socket(const WSAPROTOCOL_INFOW& entry, DWORD flags = WSA_FLAG_OVERLAPPED);
    // A listening socket bound to an ephemeral loopback port; its address in *address.
    SOCKET Listener(const WSAPROTOCOL_INFOW& entry, sockaddr_storage* address);
    // A connected TCP pair made through the provider's own entries.
    void ConnectedPair(const WSAPROTOCOL_INFOW& entry, SOCKET* client, SOCKET* server);
    void Close(SOCKET s);
    // Sends all of text through WSPSend and receives it back through WSPRecv.
    void SendText(SOCKET s, const char* text);
    std::string ReceiveText(SOCKET s, size_t length);

    HMODULE module = nullptr;
    WSPPROC_TABLE table{};
    WSPDATA data{};
    int starts = 0;
    WSAPROTOCOL_INFOW tcp4{}, tcp6{}, udp4{}, udp6{};
};
