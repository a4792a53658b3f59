// Small edits of a protocol chain shared by installation and removal.
#pragma once
#include <winsock2.h>

inline bool ChainContains(const WSAPROTOCOL_INFOW& entry, DWORD id)
{
    for (int i = 0; i < entry.ProtocolChain.ChainLen && i < MAX_PROTOCOL_CHAIN; i++)
        if (entry.ProtocolChain.ChainEntries[i] == id)
            return true;
    return false;
}

// Takes every occurrence of id out of the chain; later ids move down one place.
inline void RemoveChainId(WSAPROTOCOL_INFOW& entry, DWORD id)
{
    WSAPROTOCOLCHAIN& chain = entry.ProtocolChain;
    int kept = 0;
    for (int i = 0; i < chain.ChainLen && i < MAX_PROTOCOL_CHAIN; i++)
        if (chain.ChainEntries[i] != id)
            chain.ChainEntries[kept++] = chain.ChainEntries[i];
    for (int i = kept; i < MAX_PROTOCOL_CHAIN; i++)
        chain.ChainEntries[i] = 0;
    chain.ChainLen = kept;
}

inline void ReplaceChainId(WSAPROTOCOL_INFOW& entry, DWORD oldId, DWORD newId)
{
    for (int i = 0; i < entry.ProtocolChain.ChainLen && i < MAX_PROTOCOL_CHAIN; i++)
        if (entry.ProtocolChain.ChainEntries[i] == oldId)
            entry.ProtocolChain.ChainEntries[i] = newId;
}
