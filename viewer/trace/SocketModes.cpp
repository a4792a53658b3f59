#include "SocketModes.h"

#include <cstdlib>

bool TrackSocket(SocketModes& modes, uint32_t socket)
{
    auto* entry = static_cast<TrackedSocket*>(malloc(sizeof(TrackedSocket)));
    if (!entry)
        return false;
    entry->Socket = socket;
    entry->Mode = ModeUnknown;
    entry->IsHttp = false;
    TrackedSocket* before = nullptr;
    TrackedSocket* after = modes.head;
    while (after && after->Socket <= socket) {
        before = after;
        after = after->Next;
    }
    entry->Prev = before;
    entry->Next = after;
    if (before)
        before->Next = entry;
    else
        modes.head = entry;
    if (after)
        after->Prev = entry;
    return true;
}

TrackedSocket* FindTrackedSocket(const SocketModes& modes, uint32_t socket)
{
    for (TrackedSocket* entry = modes.head; entry && entry->Socket <= socket; entry = entry->Next)
        if (entry->Socket == socket)
            return entry;
    return nullptr;
}

void UntrackSocket(SocketModes& modes, TrackedSocket* entry)
{
    if (entry->Prev)
        entry->Prev->Next = entry->Next;
    else
        modes.head = entry->Next;
    if (entry->Next)
        entry->Next->Prev = entry->Prev;
    free(entry);
}

void FreeTrackedSockets(SocketModes& modes)
{
    while (modes.head)
        UntrackSocket(modes, modes.head);
}
