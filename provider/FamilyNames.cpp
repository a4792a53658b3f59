// Address family names, indexed by the family value; 27 has none.
#include "Formatting.h"

static const char* const FamilyNames[] = {
    "AF_UNSPEC",   "AF_UNIX",     "AF_INET",      "AF_IMPLINK",  "AF_PUP",      "AF_CHAOS",
    "AF_NS",       "AF_ISO",      "AF_ECMA",      "AF_DATAKIT",  "AF_CCITT",    "AF_SNA",
    "AF_DECnet",   "AF_DLI",      "AF_LAT",       "AF_HYLINK",   "AF_APPLETALK", "AF_NETBIOS",
    "AF_VOICEVIEW", "AF_FIREFOX", "AF_UNKNOWN1",  "AF_BAN",      "AF_ATM",      "AF_INET6",
    "AF_CLUSTER",  "AF_12844",    "AF_IRDA",      nullptr,       "AF_NETDES",
};

const char* AddressFamilyName(int family)
{
    if (family < 0 || family >= static_cast<int>(sizeof(FamilyNames) / sizeof(FamilyNames[0])))
        return nullptr;
    return FamilyNames[family];
}
