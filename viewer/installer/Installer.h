// Installs the layered provider in the Winsock catalog, one chain over every base provider at
// the front of the order, and removes it again, repairing layers that were stacked above it.
#pragma once
#include <winsock2.h>
#include <ws2spi.h>
#include <string>

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

// The layer in the process's own catalog.
int InstallLayer(const char* dllPath, const char* providerName);
int RemoveLayer();

// The layer in every catalog this build serves: its own, and from a 64-bit process also the
// catalog of 32-bit processes, with the 32-bit layer of the same name in the x86 folder beside
// dllPath. Without that file only the own catalog is used. *note gets a line for the user, or
// stays empty: that 32-bit programs are not traced, or why the installation failed.
int InstallLayerEverywhere(const char* dllPath, const char* providerName, std::string* note);
int RemoveLayerEverywhere();

// Removes the layered entry with this catalog id and its chains. Without updateProvider the
// layers stacked above are deinstalled and installed again without the removed ids.
int RemoveLayerEntries(DWORD layerId, UpdateProviderFunction updateProvider,
                       CatalogWidth width = CatalogWidth::Catalog32);
