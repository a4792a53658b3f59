// A second process for the catalog tests:
//   catalog_worker install FIRST COUNT   installs COUNT base providers, GUIDs FIRST..FIRST+COUNT-1
//   catalog_worker has GUIDBYTE          exits 0 when the provider TestGuid(GUIDBYTE) is listed
//   catalog_worker update-export         exits 0 when ws2_32 offers WSCUpdateProvider, else 3
//   catalog_worker dropin                exits 0 when the catalog is the drop-in's, else 4
#include <winsock2.h>
#include <ws2spi.h>

#include "WinsockLayerIds.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

GUID TestGuid(BYTE last)
{
    return {0x2d4c6e8f, 0x1a3b, 0x4c5d, {0x8e, 0x9f, 0xa0, 0xb1, 0xc2, 0xd3, 0xe4, last}};
}

std::vector<WSAPROTOCOL_INFOW> Entries()
{
    std::vector<WSAPROTOCOL_INFOW> entries(64);
    DWORD length = entries.size() * sizeof entries[0];
    int error = 0;
    int count = WSCEnumProtocols(nullptr, entries.data(), &length, &error);
    entries.resize(count > 0 ? count : 0);
    return entries;
}

int Install(int first, int count)
{
    WSAPROTOCOL_INFOW entry = Entries().at(0);
    for (int i = 0; i < count; ++i) {
        GUID guid = TestGuid(static_cast<BYTE>(first + i));
        int error = 0;
        if (WSCInstallProvider(&guid, L"C:\\worker.dll", &entry, 1, &error) != 0) {
            fprintf(stderr, "install %d failed: %d\n", first + i, error);
            return 1;
        }
    }
    return 0;
}

int Has(int guidByte)
{
    GUID guid = TestGuid(static_cast<BYTE>(guidByte));
    for (const auto& entry : Entries())
        if (IsEqualGUID(entry.ProviderId, guid))
            return 0;
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && strcmp(argv[1], "install") == 0)
        return Install(atoi(argv[2]), atoi(argv[3]));
    if (argc == 3 && strcmp(argv[1], "has") == 0)
        return Has(atoi(argv[2]));
    if (argc == 2 && strcmp(argv[1], "dropin") == 0) {
        for (const auto& entry : Entries())
            if (IsEqualGUID(entry.ProviderId, BaseProviderId))
                return 0; // only the drop-in's catalog names the base provider
        return 4;
    }
    if (argc == 2 && strcmp(argv[1], "update-export") == 0)
        return GetProcAddress(LoadLibraryA("ws2_32.dll"), "WSCUpdateProvider") ? 0 : 3;
    fprintf(stderr, "usage: catalog_worker install FIRST COUNT | has GUIDBYTE | update-export | dropin\n");
    return 64;
}
