// Start-up over the chains of the catalog, and the teardown that undoes it.
#include "LayerHarness.h"
#include "Entries.h"
#include "SocketContext.h"

TEST_F(LayerTest, FirstStartupLoadsEveryChainAndAnswersVersionTwoTwo)
{
    WSPDATA data;
    memset(&data, 0xcc, sizeof(data));
    ASSERT_EQ(0, StartLayer(&table, &data, MAKEWORD(1, 1)));
    EXPECT_EQ(0, ValidateProcTable(&table));
    EXPECT_EQ(MAKEWORD(2, 2), data.wVersion);
    EXPECT_EQ(MAKEWORD(2, 2), data.wHighVersion);
    EXPECT_EQ(0, data.szDescription[0]) << "the description is left empty";
    ASSERT_EQ(3, providerCount);
    EXPECT_EQ(LayerId, layerCatalogId);
    EXPECT_EQ(BaseTcpId, providerTable[0].nextProtocolInfo.dwCatalogEntryId);
    EXPECT_EQ(BaseUdpId, providerTable[1].nextProtocolInfo.dwCatalogEntryId);
    EXPECT_EQ(BaseTcp6Id, providerTable[2].nextProtocolInfo.dwCatalogEntryId);
    EXPECT_EQ(LayerUdpChainId, providerTable[1].chainProtocolInfo.dwCatalogEntryId);
    EXPECT_EQ(3, base->startupCalls) << "one start-up of the base provider per chain";
    EXPECT_EQ(MAKEWORD(1, 1), base->startupVersion) << "the requested version is passed down";
    // A base provider below gets its own entry, not the chain the layer was started for.
    EXPECT_EQ(BaseTcp6Id, base->startupInfo.dwCatalogEntryId);
}

TEST_F(LayerTest, SecondStartupReadsNothingAndLoadsNothing)
{
    WSPDATA first, second;
    WSPPROC_TABLE secondTable = {};
    ASSERT_EQ(0, StartLayer(&table, &first));
    ASSERT_EQ(0, StartLayer(&secondTable, &second, MAKEWORD(3, 0)));
    EXPECT_EQ(1, fakeCatalog.enumerateCalls);
    EXPECT_EQ(3, base->startupCalls);
    EXPECT_EQ(0, memcmp(&table, &secondTable, sizeof(table)));
    EXPECT_EQ(MAKEWORD(2, 2), second.wVersion);
    EXPECT_EQ(2, startupCount);
    // One cleanup per start-up: the first leaves the providers loaded.
    ASSERT_EQ(0, WSPCleanup(&error));
    EXPECT_EQ(0, base->cleanupCalls);
    EXPECT_NE(nullptr, providerTable);
    ASSERT_EQ(0, WSPCleanup(&error));
    EXPECT_EQ(3, base->cleanupCalls);
    EXPECT_EQ(nullptr, providerTable);
    EXPECT_EQ(nullptr, privateHeap);
    EXPECT_EQ(nullptr, contextAddedEvent);
    error = static_cast<int>(0xdeadbeef);
    EXPECT_EQ(SOCKET_ERROR, WSPCleanup(&error));
    EXPECT_EQ(WSANOTINITIALISED, error);
}

TEST_F(LayerTest, ChainOverAnotherLayerStartsThroughItsMatchingChain)
{
    WSAPROTOCOL_INFOW tcp = BaseEntry(BaseTcpId, AF_INET, SOCK_STREAM, IPPROTO_TCP);
    WSAPROTOCOL_INFOW udp = BaseEntry(BaseUdpId, AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    WSAPROTOCOL_INFOW ours = fakeCatalog.entries[3];   // the layer's own entry
    WSAPROTOCOL_INFOW otherUdp = ChainEntry(OtherUdpChainId, {OtherLayerId, BaseUdpId}, udp);
    WSAPROTOCOL_INFOW otherTcp = ChainEntry(OtherTcpChainId, {OtherLayerId, BaseTcpId}, tcp);
    otherUdp.ProviderId = otherTcp.ProviderId = FakeOtherProviderId;
    WSAPROTOCOL_INFOW oursOverOther =
        ChainEntry(LayerTcpChainId, {LayerId, OtherLayerId, BaseTcpId}, tcp);
    fakeCatalog.entries = {oursOverOther, ours, otherUdp, otherTcp,
                           LayerEntry(OtherLayerId, FakeOtherProviderId), tcp, udp};
    WSAPROTOCOL_INFOW given = oursOverOther;
    given.dwProviderReserved = 0x1234;
    ASSERT_EQ(0, StartLayer(&table, nullptr, MAKEWORD(2, 2), &given));
    ASSERT_EQ(1, providerCount);
    EXPECT_EQ(OtherTcpChainId, providerTable[0].nextProtocolInfo.dwCatalogEntryId)
        << "the other layer's chain with the same family, type and protocol";
    EXPECT_EQ(1, other->startupCalls);
    EXPECT_EQ(0, base->startupCalls);
    ASSERT_TRUE(other->startupInfoGiven);
    EXPECT_EQ(0, memcmp(&given, &other->startupInfo, sizeof(given)))
        << "a chain below gets the caller's protocol information unchanged";
}

TEST_F(LayerTest, ProviderPathsAreExpandedOnBothRoutes)
{
    for (bool wideFails : {false, true}) {
        SCOPED_TRACE(wideFails ? "ANSI route" : "wide route");
        fakeCatalog.wideExpansionFails = wideFails;
        ASSERT_EQ(0, StartLayer(&table));
        ASSERT_GT(providerCount, 0);
        char expected[MAX_PATH];
        ExpandEnvironmentStringsA("%KESTRIX_FAKE_DIR%\\fakelower.dll", expected, MAX_PATH);
        if (wideFails) {
            EXPECT_STREQ(expected, providerTable[0].expandedPathAnsi);
            EXPECT_STREQ("%KESTRIX_FAKE_DIR%\\fakelower.dll", providerTable[0].providerPathAnsi);
        } else {
            char wideAsAnsi[MAX_PATH];
            WideCharToMultiByte(CP_ACP, 0, providerTable[0].expandedPath, -1, wideAsAnsi,
                                MAX_PATH, nullptr, nullptr);
            EXPECT_STREQ(expected, wideAsAnsi);
        }
        EXPECT_NE(nullptr, providerTable[0].module);
        CleanUpLayer();
    }
}

struct StartupFailureCase {
    const char* name;
    void (*script)(FakeLowerControl* base);
    int expected;
};

TEST_F(LayerTest, StartupFailuresReturnTheirCodesAndLeaveNothingBehind)
{
    const StartupFailureCase cases[] = {
        {"catalog unreadable", [](FakeLowerControl*) { fakeCatalog.enumerateFails = true; },
         WSAEPROVIDERFAILEDINIT},
        {"no provider path", [](FakeLowerControl*) { fakeCatalog.providerPathFails = true; },
         WSAEPROVIDERFAILEDINIT},
        {"lower version refused",
         [](FakeLowerControl* lower) { lower->startupResult = WSAVERNOTSUPPORTED; },
         WSAEPROVIDERFAILEDINIT},
        {"lower table with a null entry", [](FakeLowerControl* lower) { lower->nullEntry = 17; },
         WSAEPROVIDERFAILEDINIT},
        {"chain names a missing entry",
         [](FakeLowerControl*) { fakeCatalog.entries[1].ProtocolChain.ChainEntries[1] = 4242; },
         WSAEPROVIDERFAILEDINIT},
        {"provider DLL missing",
         [](FakeLowerControl*) {
             fakeCatalog.entries[4].ProviderId = fakeCatalog.entries[5].ProviderId =
                 fakeCatalog.entries[6].ProviderId = FakeOtherProviderId;
             SetEnvironmentVariableA("KESTRIX_FAKE_DIR", "C:\\no such folder");
         },
         WSAEPROVIDERFAILEDINIT},
    };
    for (const StartupFailureCase& row : cases) {
        SCOPED_TRACE(row.name);
        TearDown();
        SetUp();
        row.script(base);
        WSPDATA data;
        memset(&data, 0xcc, sizeof(data));
        WSPPROC_TABLE untouched;
        memset(&untouched, 0xcc, sizeof(untouched));
        int result = StartLayer(&untouched, &data);
        EXPECT_EQ(row.expected, result);
        EXPECT_EQ(0, startupCount);
        EXPECT_EQ(nullptr, providerTable);
        EXPECT_EQ(0, providerCount);
        EXPECT_EQ(nullptr, privateHeap);
        EXPECT_EQ(nullptr, contextAddedEvent);
        EXPECT_EQ(base->startupCalls - (base->startupResult ? 1 : 0), base->cleanupCalls)
            << "every lower provider that started is cleaned up";
        EXPECT_EQ(static_cast<BYTE>(0xcc), reinterpret_cast<BYTE*>(&untouched)[0])
            << "a failed start-up hands out no table";
    }
    // After the failures, a clean catalog starts from nothing.
    TearDown();
    SetUp();
    EXPECT_EQ(0, StartLayer(&table));
}

TEST_F(LayerTest, CatalogWithoutTheLayerStartsEmptyAndRefusesSockets)
{
    fakeCatalog.entries.erase(fakeCatalog.entries.begin() + 3);   // the layer's own entry
    layerCatalogId = 0;   // as when the DLL was just loaded; a later start-up keeps the old id
    ASSERT_EQ(0, StartLayer(&table));
    EXPECT_EQ(0, providerCount);
    EXPECT_EQ(INVALID_SOCKET, WSPSocket(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, 0, &error));
    EXPECT_EQ(WSAEAFNOSUPPORT, error);
}

TEST_F(LayerTest, StartupReplacesTheUpcallTableEveryTime)
{
    ASSERT_EQ(0, StartLayer(&table));
    WSPUPCALLTABLE changed = FakeUpcallTable();
    changed.lpWPUPostMessage = nullptr;
    WSPDATA data;
    WSAPROTOCOL_INFOW chain = fakeCatalog.entries[0];
    ASSERT_EQ(0, WSPStartup(MAKEWORD(2, 2), &data, &chain, changed, &table));
    EXPECT_EQ(nullptr, upcallTable.lpWPUPostMessage);
}
