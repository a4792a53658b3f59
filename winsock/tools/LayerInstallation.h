// Installing a layered provider over every base provider of the catalog, and removing it.
#pragma once
#include <winsock2.h>
#include <ws2spi.h>

#include <string>

// Installs a hidden layered entry under layerId for dllPath and, for every base entry, a chain
// [layer, base] named "NAME over [base name]" under a GUID derived from layerId; the chains go
// first in the catalog order. ifsLayer keeps the base's XP1_IFS_HANDLES in the chains (a layer
// that hands out the lower provider's own handles). Returns an empty string or the reason.
std::string InstallLayeredProvider(const GUID& layerId, const std::wstring& dllPath,
                                   const std::wstring& name, bool ifsLayer);

// Removes the layered entry of layerId and every chain that contains its catalog id.
std::string RemoveLayeredProvider(const GUID& layerId);

// The GUID the chains of a layer are installed under.
GUID ChainProviderId(const GUID& layerId);
