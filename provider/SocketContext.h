// The record that binds an application's layered handle to the lower provider's socket, and the
// per-provider lists that hold them.
#pragma once
#include "ProviderState.h"

struct SocketContext {
    SOCKET lowerSocket;        // INVALID_SOCKET once the lower socket is closed
    SOCKET layeredHandle;      // INVALID_SOCKET once WPUCloseSocketHandle was called for it
    LONG pendingAsync;         // overlapped operations not yet finished; under lock
    LONG closing;              // a close had to leave the context alive; under lock
    volatile LONG refCount;    // traced calls using the context; interlocked only
    DWORD bytesSent;
    DWORD bytesReceived;
    HANDLE portAssociation;
    HWND asyncWindow;
    UINT asyncMessage;
    CRITICAL_SECTION lock;
    LowerProvider* provider;
    SocketContext* prev;
    SocketContext* next;
    int addressFamily;
    int socketType;
    int protocol;
    int backlog;               // -1 until a listen succeeds
    LONG eventMask;
    LONG blocking;
    DWORD flags;               // WSA_FLAG_* the socket was created with
    HANDLE heap;               // the privateHeap it came from, which it goes back to even when
                               // a call kept it past its teardown
    BOOL closeReported;        // the teardown reported its close already
    volatile LONG completesThroughLayer;   // an untraced process's overlapped calls on this socket
                                           // go through the manager; see ManagedOverlapped
    HANDLE handleWitness;      // the layer's own handle to the layered handle's object: tells
                               // whether the application's handle is still this socket's
};

SocketContext* CreateContext(LowerProvider* provider, SOCKET lowerSocket, SocketContext* parent,
                             BOOL link);
void FreeContext(SocketContext* context);
void LinkContext(LowerProvider* provider, SocketContext* context);
void UnlinkContext(LowerProvider* provider, SocketContext* context);

// Takes a reference; null (with the upcall's error in errorCell) for an unknown handle.
SocketContext* FindContext(SOCKET layeredHandle, int* errorCell);
// Drops a reference; the last one of a closing context with nothing pending closes the layered
// handle, reports the close that was put off, and frees the context.
void ReleaseContext(SocketContext* context, int* errorCell);
// ReleaseContext at the end of a call: a final release may close the handle, and its outcome is
// not the application's error.
inline void ReleaseAfterCall(SocketContext* context)
{
    int releaseError = 0;
    ReleaseContext(context, &releaseError);
}

// Adds to a byte total; calls on one socket in several threads may add at once.
inline void AddToTotal(DWORD* total, DWORD bytes)
{
    InterlockedExchangeAdd(reinterpret_cast<volatile LONG*>(total), static_cast<LONG>(bytes));
}

void LockContext(SocketContext* context);
void UnlockContext(SocketContext* context);

// Accepts and joins under way, from before their lower call until the new socket's context is
// linked: only such a socket can be notified before the layer knows it.
extern volatile LONG socketsBeingAccepted;

// Takes a reference, as FindContext does. A null provider searches every provider in table order.
SocketContext* FindContextByLowerSocket(LowerProvider* provider, SOCKET lowerSocket);

// Teardown: closes every socket of the provider hard and reports it. A context no call is using
// is freed; one a call is still inside stays linked, closing, for that call's final release.
void CloseAllContexts(LowerProvider* provider);
