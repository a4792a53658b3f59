#include "CatalogSnapshot.h"

std::vector<BYTE> ReadStoredCatalog(bool* present, REGSAM view)
{
    HKEY key;
    std::vector<BYTE> value;
    if (present)
        *present = false;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, catalogKeyName, 0, KEY_QUERY_VALUE | view, &key) != 0)
        return value;
    DWORD length = 0;
    if (RegQueryValueExW(key, catalogValueName, nullptr, nullptr, nullptr, &length) == 0) {
        value.resize(length);
        RegQueryValueExW(key, catalogValueName, nullptr, nullptr, value.data(), &length);
        if (present)
            *present = true;
    }
    RegCloseKey(key);
    return value;
}

void WriteStoredCatalog(const std::vector<BYTE>& value, DWORD type, REGSAM view)
{
    HKEY key;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, catalogKeyName, 0, nullptr, 0,
                              KEY_SET_VALUE | view, nullptr, &key, nullptr),
              0);
    EXPECT_EQ(RegSetValueExW(key, catalogValueName, 0, type, value.data(),
                             static_cast<DWORD>(value.size())),
              0);
    RegCloseKey(key);
}

void DeleteStoredCatalog(REGSAM view)
{
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, catalogKeyName, 0, KEY_SET_VALUE | view, &key) == 0) {
        RegDeleteValueW(key, catalogValueName);
        RegCloseKey(key);
    }
}

std::vector<WSAPROTOCOL_INFOW> CatalogEntries()
{
    DWORD length = 0;
    int error = 0xdeadbeef;
    EXPECT_EQ(WSCEnumProtocols(nullptr, nullptr, &length, &error), SOCKET_ERROR);
    EXPECT_EQ(error, WSAENOBUFS);
    std::vector<WSAPROTOCOL_INFOW> entries(length / sizeof(WSAPROTOCOL_INFOW));
    int count = WSCEnumProtocols(nullptr, entries.data(), &length, &error);
    EXPECT_EQ(count, static_cast<int>(entries.size())) << "error " << error;
    entries.resize(count > 0 ? count : 0);
    return entries;
}

const WSAPROTOCOL_INFOW* FindEntry(const std::vector<WSAPROTOCOL_INFOW>& entries, DWORD id)
{
    for (const auto& entry : entries)
        if (entry.dwCatalogEntryId == id)
            return &entry;
    return nullptr;
}

std::vector<DWORD> CatalogIds()
{
    std::vector<DWORD> ids;
    for (const auto& entry : CatalogEntries())
        ids.push_back(entry.dwCatalogEntryId);
    return ids;
}

WSAPROTOCOL_INFOW EntryLike(int chainLength, const wchar_t* name)
{
    WSAPROTOCOL_INFOW entry = CatalogEntries().at(0);
    entry.ProtocolChain.ChainLen = chainLength;
    lstrcpynW(entry.szProtocol, name, WSAPROTOCOL_LEN + 1);
    return entry;
}

GUID TestGuid(BYTE last)
{
    return {0x2d4c6e8f, 0x1a3b, 0x4c5d, {0x8e, 0x9f, 0xa0, 0xb1, 0xc2, 0xd3, 0xe4, last}};
}

void CatalogTest::SetUp()
{
    for (int i = 0; i < 2; ++i)
        saved[i] = ReadStoredCatalog(&wasPresent[i], views[i]);
}

void CatalogTest::TearDown()
{
    for (int i = 1; i >= 0; --i) { // the own view last: in a 32-bit prefix both are one value
        if (wasPresent[i])
            WriteStoredCatalog(saved[i], REG_BINARY, views[i]);
        else
            DeleteStoredCatalog(views[i]);
    }
}
