#include "LayerInstallation.h"

#include <sporder.h>
#include <vector>

namespace {

std::vector<WSAPROTOCOL_INFOW> ReadEntries(int* error)
{
    DWORD length = 0;
    std::vector<WSAPROTOCOL_INFOW> entries;
    if (WSCEnumProtocols(nullptr, nullptr, &length, error) == SOCKET_ERROR && *error != WSAENOBUFS)
        return entries;
    entries.resize(length / sizeof(WSAPROTOCOL_INFOW));
    int count = WSCEnumProtocols(nullptr, entries.data(), &length, error);
    entries.resize(count == SOCKET_ERROR ? 0 : count);
    if (count != SOCKET_ERROR)
        *error = 0;
    return entries;
}

std::string WinsockFailure(const char* what, int error)
{
    return std::string(what) + " failed with Winsock error " + std::to_string(error);
}

bool ChainHolds(const WSAPROTOCOL_INFOW& entry, DWORD catalogId)
{
    for (int i = 0; i < entry.ProtocolChain.ChainLen && i < MAX_PROTOCOL_CHAIN; ++i)
        if (entry.ProtocolChain.ChainEntries[i] == catalogId)
            return true;
    return false;
}

const WSAPROTOCOL_INFOW* LayeredEntryOf(const std::vector<WSAPROTOCOL_INFOW>& entries,
                                        const GUID& layerId)
{
    for (const auto& entry : entries)
        if (IsEqualGUID(entry.ProviderId, layerId) &&
            entry.ProtocolChain.ChainLen == LAYERED_PROTOCOL)
            return &entry;
    return nullptr;
}

// Chains of the layer first, everything else after, each group in its present order.
std::string PutChainsFirst(DWORD layerCatalogId)
{
    int error = 0;
    std::vector<WSAPROTOCOL_INFOW> entries = ReadEntries(&error);
    if (error)
        return WinsockFailure("reading the catalog", error);
    std::vector<DWORD> order;
    for (const auto& entry : entries)
        if (entry.ProtocolChain.ChainLen > BASE_PROTOCOL && ChainHolds(entry, layerCatalogId))
            order.push_back(entry.dwCatalogEntryId);
    for (const auto& entry : entries)
        if (!(entry.ProtocolChain.ChainLen > BASE_PROTOCOL && ChainHolds(entry, layerCatalogId)))
            order.push_back(entry.dwCatalogEntryId);
    if (int result = WSCWriteProviderOrder(order.data(), static_cast<DWORD>(order.size())))
        return WinsockFailure("WSCWriteProviderOrder", result);
    return "";
}

} // namespace

GUID ChainProviderId(const GUID& layerId)
{
    GUID chainId = layerId;
    chainId.Data1 ^= 0x0c4a1e5d; // fixed, so a layer's chains can be found from its GUID alone
    return chainId;
}

std::string InstallLayeredProvider(const GUID& layerId, const std::wstring& dllPath,
                                   const std::wstring& name, bool ifsLayer)
{
    int error = 0;
    std::vector<WSAPROTOCOL_INFOW> entries = ReadEntries(&error);
    if (error)
        return WinsockFailure("reading the catalog", error);
    std::vector<WSAPROTOCOL_INFOW> bases;
    GUID chainId = ChainProviderId(layerId);
    for (const auto& entry : entries) {
        if (IsEqualGUID(entry.ProviderId, layerId) || IsEqualGUID(entry.ProviderId, chainId))
            return "the provider is already installed";
        if (entry.ProtocolChain.ChainLen == BASE_PROTOCOL)
            bases.push_back(entry);
    }
    if (bases.empty())
        return "the catalog has no base provider to layer over";

    WSAPROTOCOL_INFOW layered = bases.front();
    layered.ProtocolChain.ChainLen = LAYERED_PROTOCOL;
    layered.dwServiceFlags1 &= ~XP1_IFS_HANDLES;
    layered.dwProviderFlags |= PFL_HIDDEN;
    lstrcpynW(layered.szProtocol, name.c_str(), WSAPROTOCOL_LEN + 1);
    GUID layerGuid = layerId;
    if (WSCInstallProvider(&layerGuid, dllPath.c_str(), &layered, 1, &error) != 0)
        return WinsockFailure("installing the layered entry", error);
    entries = ReadEntries(&error);
    const WSAPROTOCOL_INFOW* installed = LayeredEntryOf(entries, layerId);
    if (!installed)
        return "the layered entry is missing after its installation";
    DWORD layerCatalogId = installed->dwCatalogEntryId;

    std::vector<WSAPROTOCOL_INFOW> chains;
    for (const auto& base : bases) {
        WSAPROTOCOL_INFOW chain = base;
        std::wstring chainName = name + L" over [" + base.szProtocol + L"]";
        lstrcpynW(chain.szProtocol, chainName.c_str(), WSAPROTOCOL_LEN + 1);
        chain.ProtocolChain.ChainLen = 2;
        chain.ProtocolChain.ChainEntries[0] = layerCatalogId;
        chain.ProtocolChain.ChainEntries[1] = base.dwCatalogEntryId;
        if (!ifsLayer)
            chain.dwServiceFlags1 &= ~XP1_IFS_HANDLES;
        chains.push_back(chain);
    }
    if (WSCInstallProvider(&chainId, dllPath.c_str(), chains.data(),
                           static_cast<DWORD>(chains.size()), &error) != 0)
        return WinsockFailure("installing the chains", error);
    return PutChainsFirst(layerCatalogId);
}

std::string RemoveLayeredProvider(const GUID& layerId)
{
    int error = 0;
    std::vector<WSAPROTOCOL_INFOW> entries = ReadEntries(&error);
    if (error)
        return WinsockFailure("reading the catalog", error);
    const WSAPROTOCOL_INFOW* layered = LayeredEntryOf(entries, layerId);
    if (!layered)
        return "no layered provider with that GUID is installed";
    DWORD layerCatalogId = layered->dwCatalogEntryId;
    std::vector<GUID> doomed{layerId};
    for (const auto& entry : entries) {
        if (entry.ProtocolChain.ChainLen <= BASE_PROTOCOL || !ChainHolds(entry, layerCatalogId))
            continue;
        bool known = false;
        for (const GUID& guid : doomed)
            known = known || IsEqualGUID(guid, entry.ProviderId);
        if (!known)
            doomed.push_back(entry.ProviderId);
    }
    for (GUID& guid : doomed)
        if (WSCDeinstallProvider(&guid, &error) != 0)
            return WinsockFailure("WSCDeinstallProvider", error);
    return "";
}
