// Changing the catalog: installation with its ids and chains, removal, updates in place, and
// the catalog order. A refused change leaves the catalog exactly as it was.
#include "CatalogSnapshot.h"

#include <algorithm>

namespace {

using CatalogChange = CatalogTest;

std::wstring PathOf(GUID guid)
{
    wchar_t path[MAX_PATH] = L"";
    int length = MAX_PATH;
    int error = 0;
    WSCGetProviderPath(&guid, path, &length, &error);
    return path;
}

TEST_F(CatalogChange, InstallAssignsNewIdsAndFillsBaseChains)
{
    DeleteStoredCatalog();
    GUID baseGuid = TestGuid(10);
    WSAPROTOCOL_INFOW pair[2] = {EntryLike(BASE_PROTOCOL, L"probe one"),
                                 EntryLike(BASE_PROTOCOL, L"probe two")};
    pair[0].dwCatalogEntryId = 1; // ignored: the catalog assigns ids
    int error = 0xdeadbeef;
    ASSERT_EQ(WSCInstallProvider(&baseGuid, L"%WS2LAYER_HOME%\\probe.dll", pair, 2, &error), 0)
        << error;

    std::vector<WSAPROTOCOL_INFOW> entries = CatalogEntries();
    const size_t seeded = seededIds.size();
    ASSERT_EQ(entries.size(), seeded + 2);
    for (size_t i = seeded; i < seeded + 2; ++i) {
        const WSAPROTOCOL_INFOW& entry = entries[i];
        SCOPED_TRACE(testing::Message() << "new entry " << i);
        EXPECT_EQ(entry.dwCatalogEntryId, firstInstalledId + (i - seeded));
        EXPECT_EQ(entry.ProtocolChain.ChainEntries[0], entry.dwCatalogEntryId);
        EXPECT_TRUE(IsEqualGUID(entry.ProviderId, baseGuid));
    }
    EXPECT_STREQ(entries[seeded + 1].szProtocol, L"probe two");
    EXPECT_EQ(PathOf(baseGuid), L"%WS2LAYER_HOME%\\probe.dll");

    // A layered entry, then a chain over it and a seeded base entry.
    GUID layerGuid = TestGuid(11);
    WSAPROTOCOL_INFOW layered = EntryLike(LAYERED_PROTOCOL, L"layer");
    ASSERT_EQ(WSCInstallProvider(&layerGuid, L"C:\\layer.dll", &layered, 1, &error), 0) << error;
    DWORD layerId = CatalogEntries().back().dwCatalogEntryId;
    EXPECT_EQ(layerId, firstInstalledId + 2);
    GUID chainGuid = TestGuid(12);
    WSAPROTOCOL_INFOW chain = EntryLike(2, L"layer over [TCP/IP]");
    chain.ProtocolChain.ChainEntries[0] = layerId;
    chain.ProtocolChain.ChainEntries[1] = 1001;
    ASSERT_EQ(WSCInstallProvider(&chainGuid, L"C:\\layer.dll", &chain, 1, &error), 0) << error;
    const WSAPROTOCOL_INFOW& installed = CatalogEntries().back();
    EXPECT_EQ(installed.ProtocolChain.ChainEntries[0], layerId);
    EXPECT_EQ(installed.ProtocolChain.ChainEntries[1], 1001u);

    // Ids are never handed out twice, even after a removal.
    ASSERT_EQ(WSCDeinstallProvider(&chainGuid, &error), 0) << error;
    ASSERT_EQ(WSCInstallProvider(&chainGuid, L"C:\\layer.dll", &chain, 1, &error), 0) << error;
    EXPECT_EQ(CatalogEntries().back().dwCatalogEntryId, firstInstalledId + 4);
}

TEST_F(CatalogChange, RefusedInstallationsChangeNothing)
{
    DeleteStoredCatalog();
    GUID fresh = TestGuid(20);
    GUID seeded = CatalogEntries().at(0).ProviderId;
    WSAPROTOCOL_INFOW good = EntryLike(BASE_PROTOCOL, L"good");
    WSAPROTOCOL_INFOW tooLong = EntryLike(MAX_PROTOCOL_CHAIN + 1, L"too long");
    WSAPROTOCOL_INFOW dangling = EntryLike(2, L"dangling");
    dangling.ProtocolChain.ChainEntries[0] = 4242;
    dangling.ProtocolChain.ChainEntries[1] = 1001;
    WSAPROTOCOL_INFOW unterminated = good;
    wmemset(unterminated.szProtocol, L'x', WSAPROTOCOL_LEN + 1);
    std::wstring longPath(MAX_PATH, L'p');
    struct InstallCase {
        const char* what;
        GUID* guid;
        const wchar_t* path;
        WSAPROTOCOL_INFOW* entries;
        DWORD count;
        int expectedError;
    } cases[] = {
        {"no GUID", nullptr, L"C:\\x.dll", &good, 1, WSAEFAULT},
        {"no path", &fresh, nullptr, &good, 1, WSAEFAULT},
        {"no entries", &fresh, L"C:\\x.dll", nullptr, 1, WSAEFAULT},
        {"count 0", &fresh, L"C:\\x.dll", &good, 0, WSAEINVAL},
        {"empty path", &fresh, L"", &good, 1, WSAEINVAL},
        {"path too long", &fresh, longPath.c_str(), &good, 1, WSAEINVAL},
        {"chain too long", &fresh, L"C:\\x.dll", &tooLong, 1, WSAEINVAL},
        {"chain names a missing id", &fresh, L"C:\\x.dll", &dangling, 1, WSAEINVAL},
        {"name not terminated", &fresh, L"C:\\x.dll", &unterminated, 1, WSAEINVAL},
        {"GUID already installed", &seeded, L"C:\\x.dll", &good, 1, WSAEINVAL},
    };
    std::vector<BYTE> before = ReadStoredCatalog();
    for (const InstallCase& row : cases) {
        SCOPED_TRACE(row.what);
        int error = 0xdeadbeef;
        EXPECT_EQ(WSCInstallProvider(row.guid, row.path, row.entries, row.count, &error),
                  SOCKET_ERROR);
        EXPECT_EQ(error, row.expectedError);
        EXPECT_TRUE(ReadStoredCatalog() == before);
    }
}

TEST_F(CatalogChange, DeinstallRemovesEveryEntryOfTheProvider)
{
    DeleteStoredCatalog();
    GUID guid = TestGuid(30);
    WSAPROTOCOL_INFOW pair[2] = {EntryLike(BASE_PROTOCOL, L"a"), EntryLike(BASE_PROTOCOL, L"b")};
    int error = 0xdeadbeef;
    ASSERT_EQ(WSCInstallProvider(&guid, L"C:\\x.dll", pair, 2, &error), 0) << error;
    ASSERT_EQ(CatalogEntries().size(), seededIds.size() + 2);
    EXPECT_EQ(WSCDeinstallProvider(&guid, &error), 0) << error;
    EXPECT_EQ(CatalogIds(), seededIds);

    error = 0xdeadbeef;
    EXPECT_EQ(WSCDeinstallProvider(&guid, &error), SOCKET_ERROR);
    EXPECT_EQ(error, WSAEINVAL) << "already gone";
    error = 0xdeadbeef;
    EXPECT_EQ(WSCDeinstallProvider(nullptr, &error), SOCKET_ERROR);
    EXPECT_EQ(error, WSAEFAULT);
}

TEST_F(CatalogChange, ProviderOrderMustBeAPermutation)
{
    DeleteStoredCatalog();
    struct OrderCase {
        const char* what;
        std::vector<DWORD> ids;
        int expected;
    } cases[] = {
        {"one missing", {1001, 1002, 1003, 1004, 1005}, WSAEINVAL},
        {"one twice", {1001, 1002, 1003, 1004, 1005, 1005}, WSAEINVAL},
        {"unknown id", {1001, 1002, 1003, 1004, 1005, 9999}, WSAEINVAL},
        {"one extra", {1001, 1002, 1003, 1004, 1005, 1006, 1007}, WSAEINVAL},
        {"id 0", {0, 1002, 1003, 1004, 1005, 1006}, WSAEINVAL},
        {"reversed", {1006, 1005, 1004, 1003, 1002, 1001}, 0},
        {"rotated", {1002, 1003, 1004, 1005, 1006, 1001}, 0},
    };
    for (const OrderCase& row : cases) {
        SCOPED_TRACE(row.what);
        std::vector<DWORD> before = CatalogIds();
        std::vector<DWORD> ids = row.ids;
        EXPECT_EQ(WSCWriteProviderOrder(ids.data(), static_cast<DWORD>(ids.size())), row.expected);
        EXPECT_EQ(CatalogIds(), row.expected == 0 ? row.ids : before);
    }
    EXPECT_EQ(WSCWriteProviderOrder(nullptr, 4), WSAEFAULT);
}

TEST_F(CatalogChange, UpdateReplacesEntriesInPlace)
{
    DeleteStoredCatalog();
    int error = 0xdeadbeef;
    GUID layerGuid = TestGuid(40);
    WSAPROTOCOL_INFOW layered = EntryLike(LAYERED_PROTOCOL, L"lower layer");
    ASSERT_EQ(WSCInstallProvider(&layerGuid, L"C:\\lower.dll", &layered, 1, &error), 0);
    DWORD lowerId = CatalogEntries().back().dwCatalogEntryId;
    GUID chainGuid = TestGuid(41);
    WSAPROTOCOL_INFOW chains[2] = {EntryLike(3, L"upper over lower over TCP"),
                                   EntryLike(3, L"upper over lower over UDP")};
    for (auto& chain : chains) {
        chain.ProtocolChain.ChainEntries[0] = lowerId; // any existing id will do as the top
        chain.ProtocolChain.ChainEntries[1] = lowerId;
    }
    chains[0].ProtocolChain.ChainEntries[2] = 1001;
    chains[1].ProtocolChain.ChainEntries[2] = 1002;
    ASSERT_EQ(WSCInstallProvider(&chainGuid, L"C:\\upper.dll", chains, 2, &error), 0) << error;
    const DWORD tcpChain = firstInstalledId + 1, udpChain = firstInstalledId + 2;
    std::vector<DWORD> order = seededIds;
    order.insert(order.begin(), tcpChain);
    order.push_back(lowerId);
    order.push_back(udpChain);
    ASSERT_EQ(WSCWriteProviderOrder(order.data(), static_cast<DWORD>(order.size())), 0);

    // The removal of a layer below: take its id out of one chain and move the path.
    WSAPROTOCOL_INFOW shortened = *FindEntry(CatalogEntries(), tcpChain);
    shortened.ProtocolChain.ChainLen = 2;
    shortened.ProtocolChain.ChainEntries[1] = 1001;
    ASSERT_EQ(WSCUpdateProvider(&chainGuid, L"C:\\moved.dll", &shortened, 1, &error), 0) << error;
    std::vector<WSAPROTOCOL_INFOW> entries = CatalogEntries();
    EXPECT_EQ(entries[0].dwCatalogEntryId, tcpChain) << "stays where it was";
    EXPECT_EQ(entries[0].ProtocolChain.ChainLen, 2);
    EXPECT_EQ(entries[0].ProtocolChain.ChainEntries[1], 1001u);
    EXPECT_EQ(FindEntry(entries, udpChain)->ProtocolChain.ChainLen, 3) << "not named, not changed";
    EXPECT_EQ(PathOf(chainGuid), L"C:\\moved.dll");

    WSAPROTOCOL_INFOW unknownId = shortened;
    unknownId.dwCatalogEntryId = 4242;
    WSAPROTOCOL_INFOW otherProvider = *FindEntry(entries, 1001);
    GUID unknownGuid = TestGuid(42);
    struct UpdateCase {
        const char* what;
        GUID* guid;
        WSAPROTOCOL_INFOW* entry;
        DWORD count;
        int expectedError;
    } cases[] = {
        {"unknown catalog id", &chainGuid, &unknownId, 1, WSAEINVAL},
        {"entry of another provider", &chainGuid, &otherProvider, 1, WSAEINVAL},
        {"unknown provider", &unknownGuid, &shortened, 1, WSAEINVAL},
        {"count 0", &chainGuid, &shortened, 0, WSAEINVAL},
        {"no GUID", nullptr, &shortened, 1, WSAEFAULT},
    };
    std::vector<BYTE> before = ReadStoredCatalog();
    for (const UpdateCase& row : cases) {
        SCOPED_TRACE(row.what);
        error = 0xdeadbeef;
        EXPECT_EQ(WSCUpdateProvider(row.guid, L"C:\\x.dll", row.entry, row.count, &error),
                  SOCKET_ERROR);
        EXPECT_EQ(error, row.expectedError);
        EXPECT_TRUE(ReadStoredCatalog() == before);
    }
}

} // namespace
