// Which provider owns each socket handle the application holds. IFS providers register their
// own (kernel) handles; other providers get handles made here, with a context of their choice.
#pragma once
#include "Providers.h"

struct SocketOwner {
    Provider* provider;
    bool madeHere;      // made by WPUCreateSocketHandle, so it carries a context
    bool deviceHandle;  // made here as an open of the handle driver's device, else an event
    DWORD_PTR context;
    unsigned generation; // tells a handle value apart from an earlier use of the same value
};

// Copies the owner of s into owner; false when s is unknown.
bool FindSocketOwner(SOCKET s, SocketOwner& owner);

// Records (or re-records, when a layer takes over a handle from below) an IFS handle; false
// when no memory is left for it.
bool RecordIfsHandle(SOCKET s, Provider* provider);

// Makes a new handle for provider: an open of the handle driver's device, or, when the driver
// cannot be had, an unnamed event; INVALID_SOCKET with *error set on failure.
SOCKET MakeSocketHandle(Provider* provider, DWORD_PTR context, int* error);

// Forgets a handle made by MakeSocketHandle and frees its value; false when s is not one.
bool CloseMadeHandle(SOCKET s);

// Forgets an IFS handle after its owner closed it, unless the value was registered anew since
// owner was read (the system may hand the value out again at once).
void ForgetIfsHandle(SOCKET s, const SocketOwner& owner);

// Forgets every handle, at the last cleanup.
void ForgetAllHandles();
