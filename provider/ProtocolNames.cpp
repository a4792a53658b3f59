// Protocol names; other protocol numbers have none.
#include "Formatting.h"

struct ProtocolRow {
    int protocol;
    const char* name;
};

#define PROTOCOL(value) {value, #value}

static const ProtocolRow ProtocolNames[] = {
    PROTOCOL(IPPROTO_IP),  PROTOCOL(IPPROTO_ICMP), PROTOCOL(IPPROTO_IGMP), PROTOCOL(IPPROTO_GGP),
    PROTOCOL(IPPROTO_TCP), PROTOCOL(IPPROTO_PUP),  PROTOCOL(IPPROTO_UDP),  PROTOCOL(IPPROTO_IDP),
    PROTOCOL(IPPROTO_ND),  PROTOCOL(IPPROTO_RAW),
};

const char* ProtocolName(int protocol)
{
    for (const ProtocolRow& row : ProtocolNames) {
        if (row.protocol == protocol)
            return row.name;
    }
    return nullptr;
}
