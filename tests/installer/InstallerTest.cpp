// The installer against the real catalog of the drop-in Winsock layer.
#include "CatalogSnapshot.h"
#include "Installer.h"
#include "LayerProviderId.h"
#include <gtest/gtest.h>
#include <rpc.h>
#include <sporder.h>
#include <cstdio>
#include <string>

namespace {

const char LayerPath[] = "C:\\kestrix\\KESTRIXLAYER.DLL";

class InstallerTest : public testing::Test {
protected:
    void SetUp() override
    {
        WSADATA data;
        ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
        before = CatalogSnapshot::Read();
        ASSERT_FALSE(before.entries.empty());
        ASSERT_TRUE(before.WithGuid(LayerProviderId).empty()) << "the layer is installed already:\n"
                                                              << DescribeCatalog(before);
    }
    void TearDown() override
    {
        RemoveLayer();
        WSACleanup();
    }

    std::vector<DWORD> BaseIds() const
    {
        std::vector<DWORD> ids;
        for (const auto& entry : before.entries)
            if (entry.ProtocolChain.ChainLen == BASE_PROTOCOL)
                ids.push_back(entry.dwCatalogEntryId);
        return ids;
    }

    CatalogSnapshot before;
};

bool UpdateProviderPresent()
{
    HMODULE winsock = GetModuleHandleA("ws2_32.dll");
    return winsock && GetProcAddress(winsock, "WSCUpdateProvider");
}

// Installs a layered provider of another vendor whose chains sit on top of every chain of ours.
GUID InstallLayerAbove(DWORD ourLayerId)
{
    CatalogSnapshot catalog = CatalogSnapshot::Read();
    GUID otherLayer, otherChains;
    UuidCreate(&otherLayer);
    UuidCreate(&otherChains);
    WSAPROTOCOL_INFOW layered = catalog.entries[0];
    layered.ProtocolChain.ChainLen = LAYERED_PROTOCOL;
    layered.dwProviderFlags |= PFL_HIDDEN;
    wcscpy(layered.szProtocol, L"Other layer");
    WCHAR path[] = L"C:\\other\\otherlayer.dll";
    int error = 0;
    EXPECT_EQ(WSCInstallProvider(&otherLayer, path, &layered, 1, &error), 0) << error;
    catalog = CatalogSnapshot::Read();
    DWORD otherId = catalog.WithGuid(otherLayer).at(0)->dwCatalogEntryId;
    std::vector<WSAPROTOCOL_INFOW> chains;
    for (const auto& entry : catalog.entries) {
        if (entry.ProtocolChain.ChainLen < 2 || entry.ProtocolChain.ChainEntries[0] != ourLayerId)
            continue;
        WSAPROTOCOL_INFOW chain = entry;
        WSAPROTOCOLCHAIN& ids = chain.ProtocolChain;
        ids.ChainEntries[2] = ids.ChainEntries[1];
        ids.ChainEntries[1] = ids.ChainEntries[0];
        ids.ChainEntries[0] = otherId;
        ids.ChainLen = 3;
        wcscpy(chain.szProtocol, L"Other over Kestrix");
        chains.push_back(chain);
    }
    EXPECT_EQ(WSCInstallProvider(&otherChains, path, chains.data(), chains.size(), &error), 0) << error;

    // Like any layer's installer, it puts its chains first.
    catalog = CatalogSnapshot::Read();
    std::vector<DWORD> order;
    for (const auto* chain : catalog.WithGuid(otherChains))
        order.push_back(chain->dwCatalogEntryId);
    for (const auto& entry : catalog.entries)
        if (memcmp(&entry.ProviderId, &otherChains, sizeof otherChains) != 0)
            order.push_back(entry.dwCatalogEntryId);
    EXPECT_EQ(WSCWriteProviderOrder(order.data(), order.size()), 0);
    return otherLayer;
}

TEST_F(InstallerTest, InstallPutsOneChainPerBaseFirstAndRemoveRestoresTheCatalog)
{
    ASSERT_EQ(InstallLayer(LayerPath, "Kestrix"), 0);
    CatalogSnapshot after = CatalogSnapshot::Read();
    SCOPED_TRACE(DescribeCatalog(after));

    auto layered = after.WithGuid(LayerProviderId);
    ASSERT_EQ(layered.size(), 1u);
    const WSAPROTOCOL_INFOW& layer = *layered[0];
    DWORD layerId = layer.dwCatalogEntryId;
    EXPECT_EQ(layer.ProtocolChain.ChainLen, LAYERED_PROTOCOL);
    EXPECT_TRUE(layer.dwProviderFlags & PFL_HIDDEN);
    EXPECT_FALSE(layer.dwServiceFlags1 & XP1_IFS_HANDLES);
    EXPECT_EQ(Narrow(layer.szProtocol), "Kestrix");

    WCHAR path[MAX_PATH];
    int length = MAX_PATH, error = 0;
    GUID id = LayerProviderId;
    ASSERT_EQ(WSCGetProviderPath(&id, path, &length, &error), 0) << error;
    EXPECT_EQ(Narrow(path), LayerPath);

    // The chains come first, in the order of their base providers, all under one new GUID.
    std::vector<DWORD> bases = BaseIds();
    ASSERT_GE(after.entries.size(), bases.size() + 1 + before.entries.size());
    for (size_t i = 0; i < bases.size(); i++) {
        const WSAPROTOCOL_INFOW& chain = after.entries[i];
        const WSAPROTOCOL_INFOW& base = *before.FindId(bases[i]);
        EXPECT_EQ(chain.ProtocolChain.ChainLen, 2) << i;
        EXPECT_EQ(chain.ProtocolChain.ChainEntries[0], layerId) << i;
        EXPECT_EQ(chain.ProtocolChain.ChainEntries[1], bases[i]) << i;
        EXPECT_FALSE(chain.dwServiceFlags1 & XP1_IFS_HANDLES) << i;
        EXPECT_EQ(Narrow(chain.szProtocol), "Kestrix over [" + Narrow(base.szProtocol) + "]") << i;
        EXPECT_EQ(chain.iAddressFamily, base.iAddressFamily) << i;
        EXPECT_EQ(chain.iSocketType, base.iSocketType) << i;
        EXPECT_EQ(chain.iProtocol, base.iProtocol) << i;
        EXPECT_EQ(memcmp(&chain.ProviderId, &after.entries[0].ProviderId, sizeof(GUID)), 0) << i;
    }
    // Everything else keeps its relative order behind the chains.
    std::vector<DWORD> rest;
    for (size_t i = bases.size(); i < after.entries.size(); i++)
        if (after.entries[i].dwCatalogEntryId != layerId)
            rest.push_back(after.entries[i].dwCatalogEntryId);
    EXPECT_EQ(rest, before.Order());

    // Installing twice is refused and changes nothing.
    EXPECT_EQ(InstallLayer(LayerPath, "Kestrix"), -1);
    EXPECT_EQ(DescribeCatalog(CatalogSnapshot::Read()), DescribeCatalog(after));

    EXPECT_EQ(RemoveLayer(), 0);
    EXPECT_EQ(DescribeCatalog(CatalogSnapshot::Read()), DescribeCatalog(before));
    EXPECT_EQ(RemoveLayer(), -1) << "removing a layer that is not installed";
    EXPECT_EQ(DescribeCatalog(CatalogSnapshot::Read()), DescribeCatalog(before));
}

TEST_F(InstallerTest, RefusalsLeaveTheCatalogAlone)
{
    std::string longPath = "C:\\" + std::string(MaxLayerPathLength - 2, 'p');   // 128 characters
    std::string longName(MaxLayerNameLength + 1, 'n');
    EXPECT_EQ(InstallLayer(longPath.c_str(), "Kestrix"), -1);
    EXPECT_EQ(InstallLayer(LayerPath, longName.c_str()), -1);
    EXPECT_EQ(DescribeCatalog(CatalogSnapshot::Read()), DescribeCatalog(before));

    std::string fits = "C:\\" + std::string(MaxLayerPathLength - 3, 'p');        // 127 characters
    EXPECT_EQ(InstallLayer(fits.c_str(), "Kestrix"), 0);
    CatalogSnapshot after = CatalogSnapshot::Read();
    DWORD layerId = after.WithGuid(LayerProviderId).at(0)->dwCatalogEntryId;
    EXPECT_EQ(RemoveLayerEntries(BaseIds().at(0), UpdateProviderFunction(nullptr)), -1) << "a base provider";
    EXPECT_EQ(DescribeCatalog(CatalogSnapshot::Read()), DescribeCatalog(after));

    char captured[256] = {};
    FILE* saved = tmpfile();
    ASSERT_TRUE(saved);
    fflush(stderr);
    int oldStderr = _dup(_fileno(stderr));
    _dup2(_fileno(saved), _fileno(stderr));
    int result = RemoveLayerEntries(layerId, nullptr, CatalogWidth::Catalog64);
    fflush(stderr);
    _dup2(oldStderr, _fileno(stderr));
    rewind(saved);
    fread(captured, 1, sizeof captured - 1, saved);
    fclose(saved);
    EXPECT_EQ(result, -1);
    EXPECT_STREQ(captured, "Unable to remove providers in 64-bit catalog from 32-bit process!\n");
    EXPECT_EQ(DescribeCatalog(CatalogSnapshot::Read()), DescribeCatalog(after));
}

TEST_F(InstallerTest, ChainNamesAreCutAt255Characters)
{
    // A base provider with a long name of its own, over the same DLL as the first base entry.
    WSAPROTOCOL_INFOW base = *before.FindId(BaseIds().at(0));
    std::wstring name(240, L'b');
    wcscpy(base.szProtocol, name.c_str());
    GUID baseId;
    UuidCreate(&baseId);
    WCHAR path[] = L"C:\\bases\\longname.dll";
    int error = 0;
    ASSERT_EQ(WSCInstallProvider(&baseId, path, &base, 1, &error), 0) << error;

    EXPECT_EQ(InstallLayer(LayerPath, "Kestrix"), 0);
    CatalogSnapshot after = CatalogSnapshot::Read();
    bool seen = false;
    for (const auto& entry : after.entries) {
        if (entry.ProtocolChain.ChainLen != 2)
            continue;
        const WSAPROTOCOL_INFOW* below = after.FindId(entry.ProtocolChain.ChainEntries[1]);
        if (!below || memcmp(&below->ProviderId, &baseId, sizeof baseId) != 0)
            continue;
        seen = true;
        std::string full = "Kestrix over [" + std::string(240, 'b') + "]";
        EXPECT_EQ(Narrow(entry.szProtocol), full.substr(0, 255));
    }
    EXPECT_TRUE(seen) << DescribeCatalog(after);
    EXPECT_EQ(RemoveLayer(), 0);
    WSCDeinstallProvider(&baseId, &error);
    EXPECT_EQ(DescribeCatalog(CatalogSnapshot::Read()), DescribeCatalog(before));
}

// Run once with WSCUpdateProvider and once with the drop-in's switch that hides it.
TEST_F(InstallerTest, LayerStackedAboveIsRepairedOnRemoval)
{
    printf("removal path: %s\n", UpdateProviderPresent() ? "WSCUpdateProvider" : "rebuild of stacked layers");
    ASSERT_EQ(InstallLayer(LayerPath, "Kestrix"), 0);
    DWORD ourId = CatalogSnapshot::Read().WithGuid(LayerProviderId).at(0)->dwCatalogEntryId;
    GUID other = InstallLayerAbove(ourId);
    CatalogSnapshot stacked = CatalogSnapshot::Read();
    ASSERT_EQ(stacked.WithGuid(other).size(), 1u);

    ASSERT_EQ(RemoveLayer(), 0);
    CatalogSnapshot after = CatalogSnapshot::Read();
    SCOPED_TRACE("before removal:\n" + DescribeCatalog(stacked) + "after:\n" + DescribeCatalog(after));
    EXPECT_TRUE(after.WithGuid(LayerProviderId).empty());
    auto otherLayer = after.WithGuid(other);
    ASSERT_EQ(otherLayer.size(), 1u) << "the other layer's own entry is still there";
    DWORD newOtherId = otherLayer[0]->dwCatalogEntryId;

    int chains = 0;
    for (const auto& entry : after.entries) {
        if (entry.ProtocolChain.ChainLen < 2 || entry.ProtocolChain.ChainEntries[0] != newOtherId)
            continue;
        chains++;
        EXPECT_EQ(entry.ProtocolChain.ChainLen, 2) << DescribeEntry(entry);
        const WSAPROTOCOL_INFOW* base = after.FindId(entry.ProtocolChain.ChainEntries[1]);
        ASSERT_TRUE(base) << DescribeEntry(entry);
        EXPECT_EQ(base->ProtocolChain.ChainLen, BASE_PROTOCOL) << DescribeEntry(entry);
    }
    EXPECT_EQ(chains, static_cast<int>(BaseIds().size()));
    // The other layer's chains keep their place in the order: first.
    for (int i = 0; i < chains; i++)
        EXPECT_EQ(after.entries[i].ProtocolChain.ChainEntries[0], newOtherId) << i;

    // Take the other layer out again so the catalog is as the test found it.
    int error = 0;
    GUID otherId = other;
    WSCDeinstallProvider(&otherId, &error);
    for (const auto& entry : CatalogSnapshot::Read().entries)
        if (entry.ProtocolChain.ChainLen >= 2 && entry.ProtocolChain.ChainEntries[0] == newOtherId) {
            GUID id = entry.ProviderId;
            WSCDeinstallProvider(&id, &error);
        }
    EXPECT_EQ(CatalogSnapshot::Read().entries.size(), before.entries.size()) << DescribeCatalog(CatalogSnapshot::Read());
}

}  // namespace

namespace {

int installCalls;
int WSPAPI RefuseSecondInstall(LPGUID id, const WCHAR* path, const LPWSAPROTOCOL_INFOW entries,
                               DWORD count, LPINT error)
{
    if (++installCalls == 2) {
        *error = WSAEINVAL;
        return SOCKET_ERROR;
    }
    return WSCInstallProvider(id, path, entries, count, error);
}

int WSPAPI RefuseOrder(LPDWORD, DWORD)
{
    return SOCKET_ERROR;
}

}  // namespace

TEST_F(InstallerTest, AnInstallationThatFailsPartWayLeavesNothingBehind)
{
    const InstallWrites real = installWrites;
    struct Case {
        const char* name;
        InstallWrites writes;
    } cases[] = {
        {"the chains are refused", {RefuseSecondInstall, real.writeProviderOrder}},
        {"the new order is refused", {real.installProvider, RefuseOrder}},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        installCalls = 0;
        installWrites = row.writes;
        EXPECT_EQ(InstallLayer(LayerPath, "Kestrix"), -1);
        installWrites = real;
        EXPECT_EQ(DescribeCatalog(CatalogSnapshot::Read()), DescribeCatalog(before));
    }
    EXPECT_EQ(InstallLayer(LayerPath, "Kestrix"), 0) << "and the next installation works";
}
