// Flag words, in the order their names are written.
#include "Formatting.h"
#include <mswsock.h>

#define FLAG(value) {value, #value}
#define COUNT(table) static_cast<int>(sizeof(table) / sizeof(table[0]))

const FlagName SocketCreationFlagNames[] = {
    FLAG(WSA_FLAG_OVERLAPPED),      FLAG(WSA_FLAG_MULTIPOINT_C_ROOT),
    FLAG(WSA_FLAG_MULTIPOINT_C_LEAF), FLAG(WSA_FLAG_MULTIPOINT_D_ROOT),
    FLAG(WSA_FLAG_MULTIPOINT_D_LEAF),
};
const int SocketCreationFlagCount = COUNT(SocketCreationFlagNames);

const FlagName ReceiveFlagNames[] = {FLAG(MSG_PEEK), FLAG(MSG_OOB), FLAG(MSG_PARTIAL)};
const int ReceiveFlagCount = COUNT(ReceiveFlagNames);

const FlagName SendFlagNames[] = {FLAG(MSG_DONTROUTE), FLAG(MSG_OOB), FLAG(MSG_PARTIAL)};
const int SendFlagCount = COUNT(SendFlagNames);

const FlagName TransmitFileFlagNames[] = {
    FLAG(TF_DISCONNECT), FLAG(TF_REUSE_SOCKET), FLAG(TF_USE_SYSTEM_THREAD),
    FLAG(TF_USE_KERNEL_APC), FLAG(TF_WRITE_BEHIND),
};
const int TransmitFileFlagCount = COUNT(TransmitFileFlagNames);

const FlagName NetworkEventNames[] = {
    FLAG(FD_READ),  FLAG(FD_WRITE), FLAG(FD_OOB),       FLAG(FD_ACCEPT),
    FLAG(FD_CONNECT), FLAG(FD_CLOSE), FLAG(FD_QOS),     FLAG(FD_GROUP_QOS),
    FLAG(FD_ROUTING_INTERFACE_CHANGE), FLAG(FD_ADDRESS_LIST_CHANGE),
};
const int NetworkEventCount = COUNT(NetworkEventNames);
