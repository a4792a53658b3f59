// Socket option names and how each option's value is shown, by level.
#include "OptionNames.h"
#include <winsock2.h>
#include <mswsock.h>

#define OPTION(value, kind) {value, #value, kind}

static const OptionName SocketLevelOptions[] = {
    OPTION(SO_DEBUG, ValueBool),
    OPTION(SO_ACCEPTCONN, ValueBool),
    OPTION(SO_REUSEADDR, ValueBool),
    OPTION(SO_KEEPALIVE, ValueBool),
    OPTION(SO_DONTROUTE, ValueBool),
    OPTION(SO_BROADCAST, ValueBool),
    OPTION(SO_LINGER, ValueLinger),
    {SO_OOBINLINE, "SO_OOBLINE", ValueBool},
    OPTION(SO_SNDBUF, ValueInt),
    OPTION(SO_RCVBUF, ValueInt),
    OPTION(SO_ERROR, ValueInt),
    OPTION(SO_TYPE, ValueInt),
    OPTION(SO_GROUP_ID, ValueNone),
    OPTION(SO_GROUP_PRIORITY, ValueInt),
    OPTION(SO_MAX_MSG_SIZE, ValueInt),
    {SO_PROTOCOL_INFO, "SO_PROTOCOL_INFO", ValueNone},
    OPTION(PVD_CONFIG, ValueNone),
    OPTION(SO_UPDATE_ACCEPT_CONTEXT, ValueInt),
    OPTION(SO_CONNECT_TIME, ValueInt),
    {static_cast<int>(~SO_LINGER), "SO_DONTLINGER", ValueBool},
};

static const OptionName IpLevelOptions[] = {
    {1, "IP_OPTIONS", ValueNone},
    {2, "IP_HDRINCL", ValueBool},
    {3, "IP_TOS", ValueInt},
    {4, "IP_TTL", ValueInt},
    {9, "IP_MULTICAST_IF", ValueNone},
    {10, "IP_MULTICAST_TTL", ValueInt},
    {11, "IP_MULTICAST_LOOP", ValueBool},
    {12, "IP_ADD_MEMBERSHIP", ValueNone},
    {13, "IP_DROP_MEMBERSHIP", ValueNone},
};

static const OptionName TcpLevelOptions[] = {
    {2, "TCP_EXPEDITED_1122", ValueBool},
};

static const OptionName UdpLevelOptions[] = {
    {1, "UDP_NOCHECKSUM", ValueBool},
};

#define LEVEL(value, table) {value, #value, table, sizeof(table) / sizeof(table[0])}

static const OptionLevel OptionLevels[] = {
    LEVEL(SOL_SOCKET, SocketLevelOptions),
    LEVEL(IPPROTO_IP, IpLevelOptions),
    LEVEL(IPPROTO_TCP, TcpLevelOptions),
    LEVEL(IPPROTO_UDP, UdpLevelOptions),
};

const OptionLevel* FindOptionLevel(int level)
{
    for (const OptionLevel& row : OptionLevels) {
        if (row.level == level)
            return &row;
    }
    return nullptr;
}

const OptionName* FindOptionName(const OptionLevel* level, int option)
{
    for (int i = 0; level && i < level->count; i++) {
        if (level->options[i].option == option)
            return &level->options[i];
    }
    return nullptr;
}
