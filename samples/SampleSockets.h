// Loopback socket chores the samples repeat: addresses, listeners, bounded waits, whole
// transfers. Each helper fails the sample with the call's name when a call goes wrong.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>

#include <string>

// 127.0.0.1 or ::1 with the given port (host order).
sockaddr_storage LoopbackAddress(int family, unsigned short port);
int AddressLength(const sockaddr_storage& address);
unsigned short AddressPort(const sockaddr_storage& address);
bool SameAddress(const sockaddr_storage& a, const sockaddr_storage& b);
// "127.0.0.1:5000" or "[::1]:5000", as WSAAddressToStringA writes it.
std::string AddressText(const sockaddr_storage& address);

sockaddr_storage LocalAddressOf(SOCKET s);
sockaddr_storage PeerAddressOf(SOCKET s);

// A TCP socket bound to a free loopback port and listening.
SOCKET MakeListener(int family);
// A socket of the given type bound to a free loopback port.
SOCKET MakeBoundSocket(int family, int type);
// A free loopback port that refuses connections: held by a socket that is bound but not
// listening, so nothing else takes it while the sample runs.
SOCKET MakeRefusingSocket(int family);

// Connected TCP pair over loopback: client connected, server accepted.
struct TcpPair {
    SOCKET client;
    SOCKET server;
};
TcpPair MakeTcpPair(int family);
void CloseTcpPair(TcpPair& pair);

// accept after select says the listener is ready, within kWaitMs.
SOCKET AcceptWithin(SOCKET listener, DWORD timeoutMs);
bool WaitReadable(SOCKET s, DWORD timeoutMs);
bool WaitWritable(SOCKET s, DWORD timeoutMs);
// SO_RCVTIMEO and SO_SNDTIMEO, so blocking calls cannot hang the sample.
void SetBlockingTimeouts(SOCKET s, DWORD timeoutMs);

void SendAll(SOCKET s, const char* data, int length);
// Receives exactly length bytes; fails on an early end of stream.
void ReceiveExactly(SOCKET s, char* data, int length);
// Receives until the peer shuts down its sending side; fails beyond capacity.
int ReceiveUntilClosed(SOCKET s, char* data, int capacity);

// An extension function fetched with SIO_GET_EXTENSION_FUNCTION_POINTER; null when the
// provider does not have it.
void* LoadExtension(SOCKET s, GUID id);

// Deterministic test bytes: pattern[i] = (i * 7 + seed) & 0xff.
void FillPattern(char* data, int length, int seed);
