// Which extension functions the layer replaces, where the provider below keeps its own, and
// WSPIoctl's answer when an application asks for one.
#include "ExtensionFunctions.h"
#include "Entries.h"
#include <cstddef>
#include <cstring>
#include <type_traits>

struct ExtensionRow {
    GUID id;
    void* replacement;   // null: the lower provider's own function is handed out
    size_t slot;         // offset of the lower function's pointer in LowerProvider
};

// Indexed by ExtensionFunction.
static const ExtensionRow ExtensionTable[ExtensionFunctionCount] = {
    {WSAID_TRANSMITFILE, reinterpret_cast<void*>(LayerTransmitFile),
     offsetof(LowerProvider, transmitFile)},
    {WSAID_ACCEPTEX, reinterpret_cast<void*>(LayerAcceptEx), offsetof(LowerProvider, acceptEx)},
    {WSAID_CONNECTEX, reinterpret_cast<void*>(LayerConnectEx), offsetof(LowerProvider, connectEx)},
    {WSAID_DISCONNECTEX, reinterpret_cast<void*>(LayerDisconnectEx),
     offsetof(LowerProvider, disconnectEx)},
    {WSAID_TRANSMITPACKETS, reinterpret_cast<void*>(LayerTransmitPackets),
     offsetof(LowerProvider, transmitPackets)},
    {WSAID_WSARECVMSG, reinterpret_cast<void*>(LayerRecvMsg), offsetof(LowerProvider, recvMsg)},
    {WSAID_GETACCEPTEXSOCKADDRS, nullptr, offsetof(LowerProvider, getAcceptExSockaddrs)},
};

// Each replacement has exactly the type of the function it stands for.
static_assert(std::is_same_v<decltype(&LayerTransmitFile), LPFN_TRANSMITFILE> &&
                  std::is_same_v<decltype(&LayerAcceptEx), LPFN_ACCEPTEX> &&
                  std::is_same_v<decltype(&LayerConnectEx), LPFN_CONNECTEX> &&
                  std::is_same_v<decltype(&LayerDisconnectEx), LPFN_DISCONNECTEX> &&
                  std::is_same_v<decltype(&LayerTransmitPackets), LPFN_TRANSMITPACKETS> &&
                  std::is_same_v<decltype(&LayerRecvMsg), LPFN_WSARECVMSG>,
              "each replacement has its extension's type");

static void** SlotOf(LowerProvider* provider, const ExtensionRow& row)
{
    return reinterpret_cast<void**>(reinterpret_cast<BYTE*>(provider) + row.slot);
}

BOOL LoadLowerExtension(LowerProvider* provider, void** slot, const GUID& id, SOCKET lowerSocket)
{
    DWORD bytesReturned = 0;
    int error = 0;
    GUID request = id;
    int result = provider->procTable.lpWSPIoctl(lowerSocket, SIO_GET_EXTENSION_FUNCTION_POINTER,
                                                &request, sizeof(request), slot, sizeof(*slot),
                                                &bytesReturned, nullptr, nullptr, nullptr,
                                                &error);
    return result != SOCKET_ERROR;
}

void* LowerExtension(SocketContext* context, ExtensionFunction which)
{
    const ExtensionRow& row = ExtensionTable[which];
    void** slot = SlotOf(context->provider, row);
    // Two threads may both find it empty and both fetch it; both store the same pointer.
    if (!*slot && !LoadLowerExtension(context->provider, slot, row.id, context->lowerSocket))
        *slot = nullptr;
    return *slot;
}

int AnswerExtensionRequest(SocketContext* context, LPVOID input, DWORD inputLength,
                           LPVOID output, DWORD outputLength, LPDWORD bytesReturned,
                           LPINT lpErrno, BOOL* forward)
{
    *forward = FALSE;
    // The application's buffers are checked before they are used, as the platform checks them.
    if (inputLength < sizeof(GUID) || IsBadReadPtr(input, sizeof(GUID))) {
        *lpErrno = WSAEFAULT;
        return SOCKET_ERROR;
    }
    const ExtensionRow* row = nullptr;
    for (const ExtensionRow& candidate : ExtensionTable)
        if (memcmp(&candidate.id, input, sizeof(GUID)) == 0)
            row = &candidate;
    if (!row) {
        *lpErrno = WSAEINVAL;
        return SOCKET_ERROR;
    }
    if (!row->replacement) {
        *forward = TRUE;
        return 0;
    }
    if (outputLength < sizeof(void*) || IsBadWritePtr(output, sizeof(void*))) {
        *lpErrno = WSAEFAULT;
        return SOCKET_ERROR;
    }
    memcpy(output, &row->replacement, sizeof(void*));
    void** slot = SlotOf(context->provider, *row);
    int result = 0;
    DWORD returned = sizeof(void*);
    if (!*slot) {
        GUID request = row->id;
        result = CALL_LOWER(context, lpWSPIoctl, SIO_GET_EXTENSION_FUNCTION_POINTER, &request,
                            sizeof(request), slot, sizeof(*slot), &returned, nullptr, nullptr,
                            nullptr, lpErrno);
    }
    if (result == 0 && bytesReturned && !IsBadWritePtr(bytesReturned, sizeof(DWORD)))
        *bytesReturned = returned;
    return result;
}
