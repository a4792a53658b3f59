// Per socket of the traced program: whether its data is shown as text lines or hex dumps, decided
// by its first data. Sockets are tracked from their created record to their closed record.
#pragma once
#include <cstdint>

enum TrackedSocketMode : int32_t {
    ModeUnknown = -1,
    ModeBinary = 0,
    ModeText = 1,
};

struct TrackedSocket {
    uint32_t Socket;
    TrackedSocket* Next;
    TrackedSocket* Prev;
    int32_t Mode;
    bool IsHttp;
};

// The tracked sockets, sorted by number.
struct SocketModes {
    TrackedSocket* head = nullptr;
};

// Tracks the socket with its mode unknown; false when no memory was left.
bool TrackSocket(SocketModes& modes, uint32_t socket);
TrackedSocket* FindTrackedSocket(const SocketModes& modes, uint32_t socket);
void UntrackSocket(SocketModes& modes, TrackedSocket* entry);
void FreeTrackedSockets(SocketModes& modes);
