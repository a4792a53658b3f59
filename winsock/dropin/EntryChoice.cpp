#include "EntryChoice.h"

namespace {

bool Visible(const CatalogEntry& entry)
{
    return entry.info.ProtocolChain.ChainLen != LAYERED_PROTOCOL;
}

bool ProtocolMatches(const WSAPROTOCOL_INFOW& info, int protocol)
{
    if (protocol == 0)
        return (info.dwProviderFlags & PFL_MATCHES_PROTOCOL_ZERO) != 0;
    return protocol >= info.iProtocol && protocol <= info.iProtocol + info.iProtocolMaxOffset;
}

bool TypeKnown(const Catalog& catalog, int type)
{
    if (type == 0)
        return true;
    for (const CatalogEntry& entry : catalog.entries)
        if (Visible(entry) && entry.info.iSocketType == type)
            return true;
    return false;
}

int ChooseNamedEntry(const Catalog& catalog, const WSAPROTOCOL_INFOW& info, CatalogEntry& chosen)
{
    for (const CatalogEntry& entry : catalog.entries)
        if (entry.info.dwCatalogEntryId == info.dwCatalogEntryId && Visible(entry)) {
            chosen = entry;
            return 0;
        }
    return WSAEINVAL;
}

} // namespace

int ChooseSocketEntry(int af, int type, int protocol, const WSAPROTOCOL_INFOW* info,
                      CatalogEntry& chosen)
{
    Catalog catalog;
    if (int error = ReadCatalog(catalog))
        return error;
    if (info)
        return ChooseNamedEntry(catalog, *info, chosen);
    // With no family, only a protocol can pick the entry (Wine's own and Windows agree).
    if (af == AF_UNSPEC && protocol == 0)
        return WSAEINVAL;
    // A type no entry has is named before the family, and the family before the protocol,
    // as Windows names them when several are wrong.
    if (!TypeKnown(catalog, type))
        return WSAESOCKTNOSUPPORT;
    bool familySeen = false;
    bool typeSeen = false;
    for (const CatalogEntry& entry : catalog.entries) {
        if (!Visible(entry) || (af != AF_UNSPEC && entry.info.iAddressFamily != af))
            continue;
        familySeen = true;
        if (type != 0 && entry.info.iSocketType != type)
            continue;
        typeSeen = true;
        if (!ProtocolMatches(entry.info, protocol))
            continue;
        chosen = entry;
        return 0;
    }
    return !familySeen ? WSAEAFNOSUPPORT : !typeSeen ? WSAESOCKTNOSUPPORT : WSAEPROTONOSUPPORT;
}

int ChooseFamilyEntry(int af, const WSAPROTOCOL_INFOW* info, CatalogEntry& chosen)
{
    Catalog catalog;
    if (int error = ReadCatalog(catalog))
        return error;
    if (info)
        return ChooseNamedEntry(catalog, *info, chosen);
    for (const CatalogEntry& entry : catalog.entries)
        if (Visible(entry) && entry.info.iAddressFamily == af) {
            chosen = entry;
            return 0;
        }
    return WSAEINVAL;
}
