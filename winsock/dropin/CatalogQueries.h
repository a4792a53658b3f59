// Reading a catalog as WSCEnumProtocols and WSCGetProviderPath do, for either of a 64-bit
// process's catalogs.
#pragma once
#include "CatalogStore.h"

int EnumerateCatalogIn(CatalogView view, LPINT lpiProtocols, LPWSAPROTOCOL_INFOW lpProtocolBuffer,
                       LPDWORD lpdwBufferLength, LPINT lpErrno);
int GetProviderPathIn(CatalogView view, LPGUID lpProviderId, WCHAR* lpszProviderDllPath,
                      LPINT lpProviderDllPathLen, LPINT lpErrno);
