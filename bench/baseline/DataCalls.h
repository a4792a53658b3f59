// The two ways the workloads move bytes: plain send and recv, or WSASend and WSARecv with an
// overlapped structure and an event. Each end of a connection is one Channel, used by one thread.
#pragma once
#include <winsock2.h>

constexpr DWORD kStallMs = 30000;  // no single socket call or wait may take longer than this
constexpr int kBulkChunk = 64 * 1024;  // the most one data call is asked to move

[[noreturn]] void Fail(const char* what);

struct Channel {
    SOCKET socket = INVALID_SOCKET;
    WSAOVERLAPPED overlapped = {};  // hEvent is made by OpenChannel
    long calls = 0;                 // data calls made, each of which moved at least one byte
    long long bytes = 0;            // bytes they moved, sent and received together
};

void OpenChannel(Channel& channel, SOCKET socket);
void CloseChannel(Channel& channel);

// One data call: moves up to length bytes and returns the count; 0 is the end of the stream.
typedef int (*DataCall)(Channel& channel, char* data, int length);

struct CallStyle {
    const char* prefix;  // put before every figure name of the style
    DataCall send;
    DataCall receive;
};

extern const CallStyle SynchronousCalls;
extern const CallStyle OverlappedCalls;

void SendAll(Channel& channel, const CallStyle& style, const char* data, long length);
// False at a clean end of stream before the first byte.
bool ReceiveExactly(Channel& channel, const CallStyle& style, char* data, long length);
