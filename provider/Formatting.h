// Turns socket values into the texts of the log lines. Pure: every routine writes into a buffer
// the caller provides and keeps no state.
#pragma once
#include <winsock2.h>

struct SocketContext;

// Room for any one formatted value or argument text.
const int FormatBufferSize = 512;
// Room for FormatNumber: a sign, ten digits and the NUL.
const int NumberBufferSize = 12;

struct FlagName {
    DWORD value;
    const char* name;
};

extern const FlagName SocketCreationFlagNames[];
extern const int SocketCreationFlagCount;
extern const FlagName ReceiveFlagNames[];
extern const int ReceiveFlagCount;
extern const FlagName SendFlagNames[];
extern const int SendFlagCount;
extern const FlagName TransmitFileFlagNames[];
extern const int TransmitFileFlagCount;
extern const FlagName NetworkEventNames[];
extern const int NetworkEventCount;

// The value an application's cell holds, or 0 when it cannot be read.
inline DWORD ReadableValue(const DWORD* cell)
{
    return IsBadReadPtr(cell, sizeof(DWORD)) ? 0 : *cell;
}

// Signed decimal; returns buffer.
char* FormatNumber(LONG value, char* buffer);

// The fixed text of a Winsock error, or "%d (???)" written into scratch for an unknown code.
const char* ErrorText(int code, char* scratch);

// Names, or null where the value has none.
const char* AddressFamilyName(int family);
const char* SocketTypeName(int type);
const char* ProtocolName(int protocol);

// The name where there is one, else the value as "%d" written into scratch.
const char* AddressFamilyText(int family, char* scratch);
const char* SocketTypeText(int type, char* scratch);
const char* ProtocolText(int protocol, char* scratch);

void AppendFlagNames(char* destination, const FlagName* table, int count, const char* prefix,
                     DWORD value, BOOL showZero);
void AppendEventNames(char* destination, LONG eventMask);

// ", g=..." for a non-zero group, then ", dwFlags=..." for the named creation flags.
void FormatSocketCreationExtra(char* destination, GROUP group, DWORD flags);

void FormatRecvArgs(char* destination, const WSABUF* buffers, DWORD count, const DWORD* flags);
void FormatSendArgs(char* destination, const WSABUF* buffers, DWORD count, DWORD flags,
                    BOOL close);
void FormatSendToArgs(char* destination, const WSABUF* buffers, DWORD count, DWORD flags,
                      const sockaddr* address, int addressLength, const SocketContext* context);
void FormatTransmitFileArgs(char* destination, HANDLE file, DWORD bytesToWrite,
                            DWORD bytesPerSend, const OVERLAPPED* overlapped,
                            const void* transmitBuffers, DWORD flags);
void FormatSockOptArgs(char* destination, int level, int option, const char* value,
                       const int* length);
void FormatSockAddr(char* destination, const char* format, const char* invalidText,
                    const sockaddr* address, int addressLength);

// The templates of address texts, each with its text for an address that cannot be shown.
extern const char* const NameAddressFormat;
extern const char* const NameAddressInvalid;
extern const char* const AcceptAddressFormat;
extern const char* const AcceptAddressInvalid;
extern const char* const ToAddressFormat;
extern const char* const ToAddressInvalid;
extern const char* const FromAddressFormat;
extern const char* const FromAddressInvalid;

// Stream class: SOCK_STREAM, SOCK_RDM and SOCK_SEQPACKET.
BOOL IsStreamType(int socketType);
