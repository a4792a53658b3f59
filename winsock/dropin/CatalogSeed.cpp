#include "CatalogSeed.h"
#include "../WinsockLayerIds.h"

// Fields the designated initialisers leave out are zero, as intended.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

constexpr DWORD streamFlags = XP1_IFS_HANDLES | XP1_EXPEDITED_DATA | XP1_GRACEFUL_CLOSE |
                              XP1_GUARANTEED_ORDER | XP1_GUARANTEED_DELIVERY;
constexpr DWORD datagramFlags = XP1_IFS_HANDLES | XP1_SUPPORT_BROADCAST |
                                XP1_SUPPORT_MULTIPOINT | XP1_MESSAGE_ORIENTED | XP1_CONNECTIONLESS;

// The values Wine's own WSAEnumProtocolsW reports for TCP and UDP, with the base provider's GUID.
// Wine's own lists no raw entry but makes raw sockets without one; the raw entries take the ids
// and the protocol range Windows gives its RAW/IP and RAW/IPv6 entries (the ids Wine leaves out),
// with the datagram entries' flags.
const WSAPROTOCOL_INFOW seedEntries[] = {
    {.dwServiceFlags1 = streamFlags, .dwProviderFlags = PFL_MATCHES_PROTOCOL_ZERO,
     .ProviderId = BaseProviderId, .dwCatalogEntryId = 1001,
     .ProtocolChain = {.ChainLen = BASE_PROTOCOL, .ChainEntries = {1001}}, .iVersion = 2,
     .iAddressFamily = AF_INET, .iMaxSockAddr = sizeof(sockaddr_in),
     .iMinSockAddr = sizeof(sockaddr_in), .iSocketType = SOCK_STREAM, .iProtocol = IPPROTO_TCP,
     .szProtocol = L"TCP/IP"},
    {.dwServiceFlags1 = datagramFlags, .dwProviderFlags = PFL_MATCHES_PROTOCOL_ZERO,
     .ProviderId = BaseProviderId, .dwCatalogEntryId = 1002,
     .ProtocolChain = {.ChainLen = BASE_PROTOCOL, .ChainEntries = {1002}}, .iVersion = 2,
     .iAddressFamily = AF_INET, .iMaxSockAddr = sizeof(sockaddr_in),
     .iMinSockAddr = sizeof(sockaddr_in), .iSocketType = SOCK_DGRAM, .iProtocol = IPPROTO_UDP,
     .dwMessageSize = 0xffbb, .szProtocol = L"UDP/IP"},
    {.dwServiceFlags1 = datagramFlags, .dwProviderFlags = PFL_MATCHES_PROTOCOL_ZERO,
     .ProviderId = BaseProviderId, .dwCatalogEntryId = 1003,
     .ProtocolChain = {.ChainLen = BASE_PROTOCOL, .ChainEntries = {1003}}, .iVersion = 2,
     .iAddressFamily = AF_INET, .iMaxSockAddr = sizeof(sockaddr_in),
     .iMinSockAddr = sizeof(sockaddr_in), .iSocketType = SOCK_RAW, .iProtocol = 0,
     .iProtocolMaxOffset = 255, .dwMessageSize = 0xffbb, .szProtocol = L"RAW/IP"},
    {.dwServiceFlags1 = streamFlags, .dwProviderFlags = PFL_MATCHES_PROTOCOL_ZERO,
     .ProviderId = BaseProviderId, .dwCatalogEntryId = 1004,
     .ProtocolChain = {.ChainLen = BASE_PROTOCOL, .ChainEntries = {1004}}, .iVersion = 2,
     .iAddressFamily = AF_INET6, .iMaxSockAddr = 28, .iMinSockAddr = 28,
     .iSocketType = SOCK_STREAM, .iProtocol = IPPROTO_TCP, .szProtocol = L"TCP/IPv6"},
    {.dwServiceFlags1 = datagramFlags, .dwProviderFlags = PFL_MATCHES_PROTOCOL_ZERO,
     .ProviderId = BaseProviderId, .dwCatalogEntryId = 1005,
     .ProtocolChain = {.ChainLen = BASE_PROTOCOL, .ChainEntries = {1005}}, .iVersion = 2,
     .iAddressFamily = AF_INET6, .iMaxSockAddr = 28, .iMinSockAddr = 28,
     .iSocketType = SOCK_DGRAM, .iProtocol = IPPROTO_UDP, .dwMessageSize = 0xffbb,
     .szProtocol = L"UDP/IPv6"},
    {.dwServiceFlags1 = datagramFlags, .dwProviderFlags = PFL_MATCHES_PROTOCOL_ZERO,
     .ProviderId = BaseProviderId, .dwCatalogEntryId = 1006,
     .ProtocolChain = {.ChainLen = BASE_PROTOCOL, .ChainEntries = {1006}}, .iVersion = 2,
     .iAddressFamily = AF_INET6, .iMaxSockAddr = 28, .iMinSockAddr = 28,
     .iSocketType = SOCK_RAW, .iProtocol = 0, .iProtocolMaxOffset = 255,
     .dwMessageSize = 0xffbb, .szProtocol = L"RAW/IPv6"},
};

// The path starts with a variable the drop-in sets to its own folder, so a prefix's catalog
// follows whichever build tree runs in it.
constexpr const WCHAR* basePath = L"%WS2LAYER_HOME%\\basewsp.dll";

} // namespace

void SeedCatalog(Catalog& catalog)
{
    catalog.entries.clear();
    for (const WSAPROTOCOL_INFOW& info : seedEntries) {
        CatalogEntry entry{};
        entry.info = info;
        lstrcpynW(entry.path, basePath, MAX_PATH);
        catalog.entries.push_back(entry);
    }
    catalog.nextCatalogId = 1007;
}
