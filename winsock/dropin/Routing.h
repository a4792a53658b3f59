// What every routed application call shares: finding the provider that owns a socket, and
// ending in one place that sets the thread's error.
#pragma once
#include "HandleTable.h"
#include "Startup.h"

// Counts an application call as inside the providers for as long as it lasts, so that the last
// WSACleanup never unloads a provider under it.
class ProviderCall {
public:
    ProviderCall() { EnterProviderCall(); }
    ~ProviderCall() { LeaveProviderCall(); }
    ProviderCall(const ProviderCall&) = delete;
    ProviderCall& operator=(const ProviderCall&) = delete;
};

// The owner of s, or false with the thread's error set (WSANOTINITIALISED, WSAENOTSOCK).
inline bool OwnerForCall(SOCKET s, SocketOwner& owner)
{
    if (!WinsockStarted()) {
        WSASetLastError(WSANOTINITIALISED);
        return false;
    }
    if (!FindSocketOwner(s, owner)) {
        WSASetLastError(WSAENOTSOCK);
        return false;
    }
    return true;
}

// Passes a provider's result on, moving its error to the thread when it failed.
template <typename Result>
Result Finish(Result result, Result failure, const int& error)
{
    if (result == failure)
        WSASetLastError(error);
    return result;
}

// Calls call(procTable, errorCell) for the owner of s; the result and error pass through.
template <typename Call>
int RouteSocketCall(SOCKET s, Call call)
{
    ProviderCall inside;
    SocketOwner owner;
    if (!OwnerForCall(s, owner))
        return SOCKET_ERROR;
    int error = 0;
    int result = call(owner.provider->procTable, &error); // before error is read
    return Finish(result, SOCKET_ERROR, error);
}

// A socket a provider handed back without registering it is taken to be its own IFS handle.
inline void AdoptIfUnknown(SOCKET s, Provider* provider)
{
    SocketOwner known;
    if (s != INVALID_SOCKET && !FindSocketOwner(s, known))
        RecordIfsHandle(s, provider);
}
