// Installs the layered provider in the Winsock catalog, one chain over every base provider at
// the front of the order, and removes it again, repairing layers that were stacked above it.
#pragma once
#include <winsock2.h>
#include <ws2spi.h>

const int MaxLayerPathLength = 127;      // characters of the DLL path, without the NUL
const int MaxLayerNameLength = 254;      // characters of the provider name, without the NUL
const int MaxBaseProviders = 256;

typedef int(WSPAPI* UpdateProviderFunction)(LPGUID, const WCHAR*, const LPWSAPROTOCOL_INFOW, DWORD, LPINT);

enum class CatalogWidth { Catalog32, Catalog64 };

// The catalog writes of an installation, gathered so that a test can make one of them fail.
struct InstallWrites {
    UpdateProviderFunction installProvider;
    int(WSPAPI* writeProviderOrder)(LPDWORD order, DWORD count);
};
extern InstallWrites installWrites;

int InstallLayer(const char* dllPath, const char* providerName);
int RemoveLayer();

// Removes the layered entry with this catalog id and its chains. Without updateProvider the
// layers stacked above are deinstalled and installed again without the removed ids.
int RemoveLayerEntries(DWORD layerId, UpdateProviderFunction updateProvider,
                       CatalogWidth width = CatalogWidth::Catalog32);
