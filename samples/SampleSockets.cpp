#include "SampleSockets.h"

#include "SampleSupport.h"

#include <string.h>

sockaddr_storage LoopbackAddress(int family, unsigned short port) {
    sockaddr_storage address = {};
    if (family == AF_INET6) {
        sockaddr_in6* in6 = reinterpret_cast<sockaddr_in6*>(&address);
        in6->sin6_family = AF_INET6;
        in6->sin6_addr = in6addr_loopback;
        in6->sin6_port = htons(port);
    } else {
        sockaddr_in* in = reinterpret_cast<sockaddr_in*>(&address);
        in->sin_family = AF_INET;
        in->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        in->sin_port = htons(port);
    }
    return address;
}

int AddressLength(const sockaddr_storage& address) {
    return address.ss_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
}

unsigned short AddressPort(const sockaddr_storage& address) {
    if (address.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6&>(address).sin6_port);
    return ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port);
}

bool SameAddress(const sockaddr_storage& a, const sockaddr_storage& b) {
    if (a.ss_family != b.ss_family || AddressPort(a) != AddressPort(b))
        return false;
    if (a.ss_family == AF_INET6)
        return memcmp(&reinterpret_cast<const sockaddr_in6&>(a).sin6_addr,
                      &reinterpret_cast<const sockaddr_in6&>(b).sin6_addr, sizeof(in6_addr)) == 0;
    return reinterpret_cast<const sockaddr_in&>(a).sin_addr.s_addr ==
           reinterpret_cast<const sockaddr_in&>(b).sin_addr.s_addr;
}

std::string AddressText(const sockaddr_storage& address) {
    char text[INET6_ADDRSTRLEN + 16];
    DWORD length = sizeof text;
    sockaddr_storage copy = address;
    if (WSAAddressToStringA(reinterpret_cast<sockaddr*>(&copy), AddressLength(address), nullptr,
                            text, &length) == SOCKET_ERROR)
        Fail("WSAAddressToStringA failed: %s", WinsockErrorText(WSAGetLastError()));
    return text;
}

sockaddr_storage LocalAddressOf(SOCKET s) {
    sockaddr_storage address = {};
    int length = sizeof address;
    CheckSocketCall(getsockname(s, reinterpret_cast<sockaddr*>(&address), &length), "getsockname");
    return address;
}

sockaddr_storage PeerAddressOf(SOCKET s) {
    sockaddr_storage address = {};
    int length = sizeof address;
    CheckSocketCall(getpeername(s, reinterpret_cast<sockaddr*>(&address), &length), "getpeername");
    return address;
}

SOCKET MakeBoundSocket(int family, int type) {
    SOCKET s = CheckSocketHandle(socket(family, type, 0), "socket");
    sockaddr_storage address = LoopbackAddress(family, 0);
    CheckSocketCall(bind(s, reinterpret_cast<sockaddr*>(&address), AddressLength(address)), "bind");
    return s;
}

SOCKET MakeListener(int family) {
    SOCKET s = MakeBoundSocket(family, SOCK_STREAM);
    CheckSocketCall(listen(s, SOMAXCONN), "listen");
    return s;
}

SOCKET MakeRefusingSocket(int family) {
    return MakeBoundSocket(family, SOCK_STREAM);
}

TcpPair MakeTcpPair(int family) {
    SOCKET listener = MakeListener(family);
    sockaddr_storage address = LocalAddressOf(listener);
    TcpPair pair;
    pair.client = CheckSocketHandle(socket(family, SOCK_STREAM, IPPROTO_TCP), "socket");
    // A loopback connect completes against the backlog, before accept is called.
    CheckSocketCall(connect(pair.client, reinterpret_cast<sockaddr*>(&address),
                            AddressLength(address)),
                    "connect");
    pair.server = AcceptWithin(listener, kWaitMs);
    closesocket(listener);
    SetBlockingTimeouts(pair.client, kWaitMs);
    SetBlockingTimeouts(pair.server, kWaitMs);
    return pair;
}

void CloseTcpPair(TcpPair& pair) {
    CheckSocketCall(closesocket(pair.client), "closesocket");
    CheckSocketCall(closesocket(pair.server), "closesocket");
    pair.client = pair.server = INVALID_SOCKET;
}

namespace {

bool WaitFor(SOCKET s, bool forWrite, DWORD timeoutMs) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval timeout = {static_cast<long>(timeoutMs / 1000), static_cast<long>(timeoutMs % 1000) * 1000};
    int ready = select(0, forWrite ? nullptr : &set, forWrite ? &set : nullptr, nullptr, &timeout);
    CheckSocketCall(ready, "select");
    return ready == 1 && FD_ISSET(s, &set);
}

}  // namespace

bool WaitReadable(SOCKET s, DWORD timeoutMs) {
    return WaitFor(s, false, timeoutMs);
}

bool WaitWritable(SOCKET s, DWORD timeoutMs) {
    return WaitFor(s, true, timeoutMs);
}

SOCKET AcceptWithin(SOCKET listener, DWORD timeoutMs) {
    if (!WaitReadable(listener, timeoutMs))
        Fail("no connection to accept within %lu ms", timeoutMs);
    return CheckSocketHandle(accept(listener, nullptr, nullptr), "accept");
}

void SetBlockingTimeouts(SOCKET s, DWORD timeoutMs) {
    const char* value = reinterpret_cast<const char*>(&timeoutMs);
    CheckSocketCall(setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, value, sizeof timeoutMs),
                    "setsockopt(SO_RCVTIMEO)");
    CheckSocketCall(setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, value, sizeof timeoutMs),
                    "setsockopt(SO_SNDTIMEO)");
}

void SendAll(SOCKET s, const char* data, int length) {
    while (length > 0) {
        int sent = CheckSocketCall(send(s, data, length, 0), "send");
        data += sent;
        length -= sent;
    }
}

void ReceiveExactly(SOCKET s, char* data, int length) {
    int total = 0;
    while (total < length) {
        int got = CheckSocketCall(recv(s, data + total, length - total, 0), "recv");
        if (got == 0)
            Fail("the peer closed after %d of %d bytes", total, length);
        total += got;
    }
}

int ReceiveUntilClosed(SOCKET s, char* data, int capacity) {
    int total = 0;
    for (;;) {
        int got = CheckSocketCall(recv(s, data + total, capacity - total, 0), "recv");
        if (got == 0)
            return total;
        total += got;
        if (total == capacity) {
            char extra;
            if (CheckSocketCall(recv(s, &extra, 1, 0), "recv") != 0)
                Fail("the peer sent more than %d bytes", capacity);
            return total;
        }
    }
}

void* LoadExtension(SOCKET s, GUID id) {
    void* function = nullptr;
    DWORD returned = 0;
    if (WSAIoctl(s, SIO_GET_EXTENSION_FUNCTION_POINTER, &id, sizeof id, &function,
                 sizeof function, &returned, nullptr, nullptr) == SOCKET_ERROR)
        return nullptr;
    return function;
}

void FillPattern(char* data, int length, int seed) {
    for (int i = 0; i < length; ++i)
        data[i] = static_cast<char>((i * 7 + seed) & 0xff);
}
