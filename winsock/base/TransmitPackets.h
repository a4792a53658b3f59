// TransmitPackets for the real library, which lacks it: memory and file elements sent on
// the real socket with the real WSASend.
#pragma once
#include <winsock2.h>
#include <mswsock.h>

BOOL PASCAL BaseTransmitPackets(SOCKET hSocket, LPTRANSMIT_PACKETS_ELEMENT lpPacketArray,
                                DWORD nElementCount, DWORD nSendSize, LPOVERLAPPED lpOverlapped,
                                DWORD dwFlags);

// Frees the gathered buffers of overlapped sends that were still under way when issued.
void FreeParkedTransmitBuffers();
