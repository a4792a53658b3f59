// Socket type names, and which types are connection-oriented.
#include "Formatting.h"

static const char* const TypeNames[] = {
    nullptr, "SOCK_STREAM", "SOCK_DGRAM", "SOCK_RAW", "SOCK_RDM", "SOCK_SEQPACKET",
};

const char* SocketTypeName(int type)
{
    if (type < 1 || type > SOCK_SEQPACKET)
        return nullptr;
    return TypeNames[type];
}

BOOL IsStreamType(int socketType)
{
    return socketType == SOCK_STREAM || socketType == SOCK_RDM || socketType == SOCK_SEQPACKET;
}
