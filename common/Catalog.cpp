#include "Catalog.h"
#include <ws2spi.h>

WSAPROTOCOL_INFOW* EnumerateCatalog(int* count)
{
    return EnumerateCatalogWith(WSCEnumProtocols, count);
}

WSAPROTOCOL_INFOW* EnumerateCatalogWith(EnumProtocolsFunction enumerate, int* count)
{
    DWORD length = 0;
    int error = 0;
    if (enumerate(nullptr, nullptr, &length, &error) == SOCKET_ERROR && error != WSAENOBUFS)
        return nullptr;
    auto* catalog = static_cast<WSAPROTOCOL_INFOW*>(HeapAlloc(GetProcessHeap(), 0, length));
    if (!catalog)
        return nullptr;
    int entries = enumerate(nullptr, catalog, &length, &error);
    if (entries == SOCKET_ERROR) {
        FreeCatalog(catalog);
        return nullptr;
    }
    *count = entries;
    return catalog;
}

void FreeCatalog(WSAPROTOCOL_INFOW* catalog)
{
    HeapFree(GetProcessHeap(), 0, catalog);
}
