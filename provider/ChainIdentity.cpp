#include "ChainIdentity.h"
#include <cstddef>
#include <cstring>

static BOOL ContinuesAt(const WSAPROTOCOL_INFOW& info, int position, const WSAPROTOCOLCHAIN& ours)
{
    const WSAPROTOCOLCHAIN& given = info.ProtocolChain;
    if (given.ChainLen - position != ours.ChainLen)
        return FALSE;
    return memcmp(&given.ChainEntries[position], ours.ChainEntries,
                  ours.ChainLen * sizeof(DWORD)) == 0;
}

static LowerProvider* FindChainContinuing(const WSAPROTOCOL_INFOW& info)
{
    int length = info.ProtocolChain.ChainLen;
    if (length <= BASE_PROTOCOL || length > MAX_PROTOCOL_CHAIN)
        return nullptr;
    for (int position = 1; position < length; position++) {
        if (info.ProtocolChain.ChainEntries[position] != layerCatalogId)
            continue;
        for (int i = 0; i < providerCount; i++) {
            if (ContinuesAt(info, position, providerTable[i].chainProtocolInfo.ProtocolChain))
                return &providerTable[i];
        }
    }
    return nullptr;
}

LowerProvider* FindChainNamedBy(const WSAPROTOCOL_INFOW& info)
{
    for (int i = 0; i < providerCount; i++) {
        if (providerTable[i].chainProtocolInfo.dwCatalogEntryId == info.dwCatalogEntryId)
            return &providerTable[i];
    }
    return FindChainContinuing(info);
}

void TakeEntryIdentity(void* record, const WSAPROTOCOL_INFOW& entry)
{
    auto* bytes = static_cast<char*>(record);
    memcpy(bytes + offsetof(WSAPROTOCOL_INFOW, ProviderId), &entry.ProviderId,
           sizeof(entry.ProviderId));
    memcpy(bytes + offsetof(WSAPROTOCOL_INFOW, dwCatalogEntryId), &entry.dwCatalogEntryId,
           sizeof(entry.dwCatalogEntryId));
    memcpy(bytes + offsetof(WSAPROTOCOL_INFOW, ProtocolChain), &entry.ProtocolChain,
           sizeof(entry.ProtocolChain));
}

static_assert(offsetof(WSAPROTOCOL_INFOA, ProviderId) == offsetof(WSAPROTOCOL_INFOW, ProviderId) &&
                  offsetof(WSAPROTOCOL_INFOA, dwCatalogEntryId) ==
                      offsetof(WSAPROTOCOL_INFOW, dwCatalogEntryId) &&
                  offsetof(WSAPROTOCOL_INFOA, ProtocolChain) ==
                      offsetof(WSAPROTOCOL_INFOW, ProtocolChain),
              "the narrow and wide records name their entry in the same place");
