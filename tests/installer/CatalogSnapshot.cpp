#include "CatalogSnapshot.h"
#include "Catalog.h"
#include <cstdio>
#include <cstring>

CatalogSnapshot CatalogSnapshot::Read()
{
    CatalogSnapshot snapshot;
    int count = 0;
    if (WSAPROTOCOL_INFOW* catalog = EnumerateCatalog(&count)) {
        snapshot.entries.assign(catalog, catalog + count);
        FreeCatalog(catalog);
    }
    return snapshot;
}

const WSAPROTOCOL_INFOW* CatalogSnapshot::FindId(DWORD id) const
{
    for (const auto& entry : entries)
        if (entry.dwCatalogEntryId == id)
            return &entry;
    return nullptr;
}

std::vector<const WSAPROTOCOL_INFOW*> CatalogSnapshot::WithGuid(const GUID& id) const
{
    std::vector<const WSAPROTOCOL_INFOW*> found;
    for (const auto& entry : entries)
        if (memcmp(&entry.ProviderId, &id, sizeof id) == 0)
            found.push_back(&entry);
    return found;
}

std::vector<DWORD> CatalogSnapshot::Order() const
{
    std::vector<DWORD> order;
    for (const auto& entry : entries)
        order.push_back(entry.dwCatalogEntryId);
    return order;
}

int CatalogSnapshot::IndexOf(DWORD id) const
{
    for (size_t i = 0; i < entries.size(); i++)
        if (entries[i].dwCatalogEntryId == id)
            return static_cast<int>(i);
    return -1;
}

std::string Narrow(const WCHAR* text)
{
    char buffer[1024];
    WideCharToMultiByte(CP_ACP, 0, text, -1, buffer, sizeof buffer, nullptr, nullptr);
    buffer[sizeof buffer - 1] = 0;
    return buffer;
}

std::string DescribeEntry(const WSAPROTOCOL_INFOW& entry)
{
    char line[512];
    int n = snprintf(line, sizeof line, "%lu chain=%d[", entry.dwCatalogEntryId, entry.ProtocolChain.ChainLen);
    for (int i = 0; i < entry.ProtocolChain.ChainLen && i < MAX_PROTOCOL_CHAIN; i++)
        n += snprintf(line + n, sizeof line - n, i ? " %lu" : "%lu", entry.ProtocolChain.ChainEntries[i]);
    snprintf(line + n, sizeof line - n, "] flags1=%lx pflags=%lx af=%d type=%d proto=%d '%s'",
             entry.dwServiceFlags1, entry.dwProviderFlags, entry.iAddressFamily, entry.iSocketType,
             entry.iProtocol, Narrow(entry.szProtocol).c_str());
    return line;
}

std::string DescribeCatalog(const CatalogSnapshot& catalog)
{
    std::string text;
    for (const auto& entry : catalog.entries)
        text += DescribeEntry(entry) + "\n";
    return text;
}

bool ChainHas(const WSAPROTOCOL_INFOW& entry, DWORD id)
{
    for (int i = 0; i < entry.ProtocolChain.ChainLen && i < MAX_PROTOCOL_CHAIN; i++)
        if (entry.ProtocolChain.ChainEntries[i] == id)
            return true;
    return false;
}
