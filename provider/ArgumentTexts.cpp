// The argument texts of the data, option and file-transmission reports, and socket addresses.
#include "Formatting.h"
#include "OptionNames.h"
#include "SocketContext.h"
#include <cstdio>
#include <cstring>

const char* const NameAddressFormat = "[name=%s]";
const char* const NameAddressInvalid = "[name='invalid socket address']";
const char* const AcceptAddressFormat = " [addr=%s]";
const char* const AcceptAddressInvalid = " [addr='invalid socket address']";
const char* const ToAddressFormat = ", to=%s";
const char* const ToAddressInvalid = ", to='invalid socket address'";
const char* const FromAddressFormat = "from=%s";
const char* const FromAddressInvalid = "from='invalid socket address'";

const DWORD AddressTextLength = 80;

static char* End(char* destination)
{
    return destination + strlen(destination);
}

// Stops at the first entry that cannot be read.
static DWORD TotalLength(const WSABUF* buffers, DWORD count)
{
    DWORD total = 0;
    for (DWORD i = 0; i < count; i++) {
        if (IsBadReadPtr(&buffers[i], sizeof(WSABUF)))
            break;
        total += buffers[i].len;
    }
    return total;
}

void FormatRecvArgs(char* destination, const WSABUF* buffers, DWORD count, const DWORD* flags)
{
    sprintf(destination, "[len=%lu", TotalLength(buffers, count));
    if (!IsBadReadPtr(flags, sizeof(DWORD)))
        AppendFlagNames(destination, ReceiveFlagNames, ReceiveFlagCount, ", flags=", *flags, FALSE);
    strcat(destination, "]");
}

void FormatSendArgs(char* destination, const WSABUF* buffers, DWORD count, DWORD flags,
                    BOOL close)
{
    sprintf(destination, "[len=%lu", TotalLength(buffers, count));
    AppendFlagNames(destination, SendFlagNames, SendFlagCount, ", flags=", flags, FALSE);
    if (close)
        strcat(destination, "]");
}

void FormatSendToArgs(char* destination, const WSABUF* buffers, DWORD count, DWORD flags,
                      const sockaddr* address, int addressLength, const SocketContext* context)
{
    FormatSendArgs(destination, buffers, count, flags, FALSE);
    if (!context || !IsStreamType(context->socketType))
        FormatSockAddr(End(destination), ToAddressFormat, ToAddressInvalid, address, addressLength);
    strcat(destination, "]");
}

void FormatTransmitFileArgs(char* destination, HANDLE file, DWORD bytesToWrite,
                            DWORD bytesPerSend, const OVERLAPPED* overlapped,
                            const void* transmitBuffers, DWORD flags)
{
    sprintf(destination, "[hFile=%lX, nNumberOfFileBytesToWrite=%lu, nNumberOfBytesPerSend=%lu",
            static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(file)), bytesToWrite,
            bytesPerSend);
    if (!overlapped)
        strcat(destination, ", lpOverlapped=NULL");
    else if (!IsBadReadPtr(overlapped, sizeof(OVERLAPPED)))
        sprintf(End(destination), ", lpOverlapped->Offset=%lu, lpOverlapped->OffsetHigh=%lu",
                overlapped->Offset, overlapped->OffsetHigh);
    auto* buffers = static_cast<const TRANSMIT_FILE_BUFFERS*>(transmitBuffers);
    if (!buffers)
        strcat(destination, ", lpTransmitBuffers=NULL");
    else if (!IsBadReadPtr(buffers, sizeof(TRANSMIT_FILE_BUFFERS)))
        sprintf(End(destination),
                ", lpTransmitBuffers->HeadLength=%lu, lpTransmitBuffers->TailLength=%lu",
                buffers->HeadLength, buffers->TailLength);
    AppendFlagNames(destination, TransmitFileFlagNames, TransmitFileFlagCount, ", dwFlags=", flags,
                    FALSE);
    strcat(destination, "]");
}

static void AppendOptionValue(char* destination, OptionValueKind kind, const char* value)
{
    if (kind == ValueNone || IsBadReadPtr(value, sizeof(int)))
        return;
    if (kind == ValueBool) {
        strcat(destination, value[0] ? ", optval=true" : ", optval=false");
    } else if (kind == ValueInt) {
        int number;
        memcpy(&number, value, sizeof(number));
        sprintf(End(destination), ", optval=%d", number);
    } else {
        u_short halves[2];
        memcpy(halves, value, sizeof(halves));
        sprintf(End(destination), ", l_onoff=%u, l_linger=%u", halves[0], halves[1]);
    }
}

void FormatSockOptArgs(char* destination, int level, int option, const char* value,
                       const int* length)
{
    const OptionLevel* levelRow = FindOptionLevel(level);
    const OptionName* optionRow = FindOptionName(levelRow, option);
    if (levelRow)
        sprintf(destination, "[level=%s", levelRow->name);
    else
        sprintf(destination, "[level=%d", level);
    if (optionRow)
        sprintf(End(destination), ", optname=%s", optionRow->name);
    else
        sprintf(End(destination), ", optname=%d", option);
    AppendOptionValue(destination, optionRow ? optionRow->kind : ValueNone, value);
    if (!IsBadReadPtr(length, sizeof(int)))
        sprintf(End(destination), ", optlen=%d", *length);
    strcat(destination, "]");
}

void FormatSockAddr(char* destination, const char* format, const char* invalidText,
                    const sockaddr* address, int addressLength)
{
    char text[AddressTextLength];
    DWORD textLength = AddressTextLength;
    if (addressLength <= 0 || IsBadReadPtr(address, addressLength) ||
        WSAAddressToStringA(const_cast<sockaddr*>(address), addressLength, nullptr, text,
                            &textLength) != 0) {
        strcpy(destination, invalidText);
        return;
    }
    sprintf(destination, format, text);
}
