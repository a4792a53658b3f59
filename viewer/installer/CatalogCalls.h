// The calls that read and change one Winsock catalog. The plain calls reach the process's own
// catalog; a 64-bit process reaches the one 32-bit processes read through the *32 calls.
#pragma once
#include "Catalog.h"
#include "Installer.h"

struct CatalogCalls {
    EnumProtocolsFunction enumProtocols;
    int(WSPAPI* deinstallProvider)(LPGUID, LPINT);
    int(WSPAPI* getProviderPath)(LPGUID, WCHAR*, LPINT, LPINT);
    int(WSPAPI* writeProviderOrder)(LPDWORD, DWORD);
    UpdateProviderFunction updateProvider;   // null where the system has none
};

// Removes the layered entry with this catalog id and its chains from the catalog the calls
// reach, and takes the removed ids out of the layers stacked above (through updateProvider, or
// by installing them again in the process's own catalog when there is none).
int RemoveLayerEntriesFrom(const CatalogCalls& calls, DWORD layerId);

// Removes the layer from that catalog: 0, or -1 when it is not there or cannot be read.
int RemoveLayerFrom(const CatalogCalls& calls);

// Puts every entry whose chain holds the layer first, keeping the relative order of the rest.
// Returns false only when the catalog refused the new order.
bool MoveChainsToFront(const CatalogCalls& calls);

// The layer's own entry in a catalog: its id and the process that installed it (0 when the entry
// does not say). False when the catalog cannot be read or has no such entry.
bool FindLayerEntry(const CatalogCalls& calls, DWORD* layerId, DWORD* installedBy);

// True for entries a viewer left behind when it was killed: they name a process that has
// ended. Entries that name none were installed by someone else and are left alone.
bool LeftByEndedViewer(DWORD installedBy);
