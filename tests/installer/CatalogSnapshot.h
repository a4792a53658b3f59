// Reads the catalog for the installer tests and compares it with an earlier reading.
#pragma once
#include <winsock2.h>
#include <ws2spi.h>
#include <string>
#include <vector>

struct CatalogSnapshot {
    std::vector<WSAPROTOCOL_INFOW> entries;   // in catalog order

    static CatalogSnapshot Read();
    const WSAPROTOCOL_INFOW* FindId(DWORD id) const;
    std::vector<const WSAPROTOCOL_INFOW*> WithGuid(const GUID& id) const;
    std::vector<DWORD> Order() const;
    int IndexOf(DWORD id) const;
};

std::string Narrow(const WCHAR* text);
std::string DescribeEntry(const WSAPROTOCOL_INFOW& entry);
// Catalog id, chain and name of every entry, one per line, for comparisons and failure output.
std::string DescribeCatalog(const CatalogSnapshot& catalog);
bool ChainHas(const WSAPROTOCOL_INFOW& entry, DWORD id);
