// The layer's own extension functions. An application fetches them with
// SIO_GET_EXTENSION_FUNCTION_POINTER and calls them with the layer's handles; each translates
// the handles, traces the call where it has a report, and passes overlapped use through the
// overlapped manager.
#pragma once
#include "ProviderState.h"
#include "SocketContext.h"

BOOL PASCAL LayerTransmitFile(SOCKET hSocket, HANDLE hFile, DWORD nNumberOfBytesToWrite,
                              DWORD nNumberOfBytesPerSend, LPOVERLAPPED lpOverlapped,
                              LPTRANSMIT_FILE_BUFFERS lpTransmitBuffers, DWORD dwReserved);
BOOL PASCAL LayerAcceptEx(SOCKET sListenSocket, SOCKET sAcceptSocket, PVOID lpOutputBuffer,
                          DWORD dwReceiveDataLength, DWORD dwLocalAddressLength,
                          DWORD dwRemoteAddressLength, LPDWORD lpdwBytesReceived,
                          LPOVERLAPPED lpOverlapped);
BOOL PASCAL LayerConnectEx(SOCKET s, const sockaddr* name, int namelen, PVOID lpSendBuffer,
                           DWORD dwSendDataLength, LPDWORD lpdwBytesSent,
                           LPOVERLAPPED lpOverlapped);
BOOL PASCAL LayerTransmitPackets(SOCKET hSocket, LPTRANSMIT_PACKETS_ELEMENT lpPacketArray,
                                 DWORD nElementCount, DWORD nSendSize, LPOVERLAPPED lpOverlapped,
                                 DWORD dwFlags);
BOOL PASCAL LayerDisconnectEx(SOCKET s, LPOVERLAPPED lpOverlapped, DWORD dwFlags,
                              DWORD dwReserved);
INT PASCAL LayerRecvMsg(SOCKET s, LPWSAMSG lpMsg, LPDWORD lpdwNumberOfBytesRecvd,
                        LPWSAOVERLAPPED lpOverlapped,
                        LPWSAOVERLAPPED_COMPLETION_ROUTINE lpCompletionRoutine);

// The extension functions the layer knows, in the order WSPIoctl compares their identifiers.
enum ExtensionFunction {
    ExtensionTransmitFile,
    ExtensionAcceptEx,
    ExtensionConnectEx,
    ExtensionDisconnectEx,
    ExtensionTransmitPackets,
    ExtensionRecvMsg,
    ExtensionGetAcceptExSockaddrs,   // not replaced: it takes no socket
    ExtensionFunctionCount,
};

// The lower provider's function for the context's socket, fetched the first time it is needed;
// null when the provider below refuses it (the next call tries again).
void* LowerExtension(SocketContext* context, ExtensionFunction which);

// Fetches one extension function of the provider below into slot with the provider's WSPIoctl
// on the lower socket; FALSE when the provider refuses.
BOOL LoadLowerExtension(LowerProvider* provider, void** slot, const GUID& id, SOCKET lowerSocket);

// WSPIoctl's answer to SIO_GET_EXTENSION_FUNCTION_POINTER: the layer's replacement, with the
// provider's slot filled on first need; GetAcceptExSockaddrs, which takes no socket, is asked of
// the provider below like any other code (forward: TRUE, nothing else done). Returns 0 or
// SOCKET_ERROR with the error in lpErrno.
int AnswerExtensionRequest(SocketContext* context, LPVOID input, DWORD inputLength,
                           LPVOID output, DWORD outputLength, LPDWORD bytesReturned,
                           LPINT lpErrno, BOOL* forward);
