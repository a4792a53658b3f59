// The reports of the data transfer calls and of the file transmission, made by the entries for
// synchronous calls and by the completion step for overlapped ones.
#pragma once
#include <winsock2.h>

struct SocketContext;

// The texts of a stream receive's outcome, which AcceptEx's first bytes share.
extern const char* const ReceivedText;
extern const char* const ClosedByPeerText;

void ReportRecvUnknownSocket(SOCKET socket, const WSABUF* buffers, DWORD bufferCount,
                             const DWORD* flags, const int* errorCell);
void ReportRecvFromUnknownSocket(SOCKET socket, const WSABUF* buffers, DWORD bufferCount,
                                 const DWORD* flags, const int* errorCell);
void ReportSendUnknownSocket(SOCKET socket, const WSABUF* buffers, DWORD bufferCount, DWORD flags,
                             const int* errorCell);
void ReportSendToUnknownSocket(SOCKET socket, const WSABUF* buffers, DWORD bufferCount,
                               DWORD flags, const sockaddr* to, int toLength,
                               const int* errorCell);

void ReportRecvStart(const SocketContext* context, const WSABUF* buffers, DWORD bufferCount,
                     const DWORD* flags, const WSAOVERLAPPED* overlapped);
void ReportRecvFromStart(const SocketContext* context, const WSABUF* buffers, DWORD bufferCount,
                         const DWORD* flags, const WSAOVERLAPPED* overlapped);
void ReportSendStart(const SocketContext* context, const WSABUF* buffers, DWORD bufferCount,
                     DWORD flags, const WSAOVERLAPPED* overlapped);
void ReportSendToStart(const SocketContext* context, const WSABUF* buffers, DWORD bufferCount,
                       DWORD flags, const sockaddr* to, int toLength,
                       const WSAOVERLAPPED* overlapped);

// result is 0 or SOCKET_ERROR; bytes and flags point at the call's out-values.
void ReportRecvResult(int result, const SocketContext* context, const WSABUF* buffers,
                      DWORD bufferCount, const DWORD* bytes, const DWORD* flags,
                      const int* errorCell);
void ReportRecvFromResult(int result, const SocketContext* context, const WSABUF* buffers,
                          DWORD bufferCount, const DWORD* bytes, const DWORD* flags,
                          const sockaddr* from, const int* fromLength, const int* errorCell);
void ReportSendResult(int result, const SocketContext* context, const WSABUF* buffers,
                      DWORD bufferCount, const DWORD* bytes, const int* errorCell);

void ReportTransmitFileStart(const SocketContext* context, HANDLE file, DWORD bytesToWrite,
                             DWORD bytesPerSend, const OVERLAPPED* overlapped,
                             const void* transmitBuffers, DWORD flags);
// count is -1 for the synchronous call, which learns no count.
void ReportTransmitFileResult(BOOL success, SOCKET socket, LONG count, int error);
