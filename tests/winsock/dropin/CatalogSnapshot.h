// Test support: keeps the prefix's stored catalog as a test found it and puts it back after,
// and small helpers to read the catalog through the drop-in.
#pragma once
#include <winsock2.h>
#include <ws2spi.h>
#include <sporder.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dropin/CatalogLocation.h"

// The raw stored value (empty when there is none), and writing one back. The view is the
// registry's: 0 for the process's own catalog, KEY_WOW64_32KEY for the one 32-bit processes read.
std::vector<BYTE> ReadStoredCatalog(bool* present = nullptr, REGSAM view = 0);
void WriteStoredCatalog(const std::vector<BYTE>& value, DWORD type = REG_BINARY, REGSAM view = 0);
void DeleteStoredCatalog(REGSAM view = 0);

// Every catalog entry, hidden ones included, through WSCEnumProtocols.
std::vector<WSAPROTOCOL_INFOW> CatalogEntries();
const WSAPROTOCOL_INFOW* FindEntry(const std::vector<WSAPROTOCOL_INFOW>& entries, DWORD id);
std::vector<DWORD> CatalogIds();

// The seeded catalog's ids, in catalog order: TCP, UDP and raw over IPv4, then over IPv6; the
// first id an installation gets follows them.
inline const std::vector<DWORD> seededIds = {1001, 1002, 1003, 1004, 1005, 1006};
constexpr DWORD firstInstalledId = 1007;

// An entry to install: a copy of the first TCP/IPv4 entry under a new name and chain length.
WSAPROTOCOL_INFOW EntryLike(int chainLength, const wchar_t* name);

// A GUID that differs from base in its last byte, for the providers a test installs.
GUID TestGuid(BYTE last);

// Restores the stored catalogs (both, in a 64-bit prefix) when the test ends, whatever it did.
class CatalogTest : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

private:
    static constexpr REGSAM views[] = {0, KEY_WOW64_32KEY};
    std::vector<BYTE> saved[2];
    bool wasPresent[2] = {};
};
