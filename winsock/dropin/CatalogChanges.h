// Changing either of a 64-bit process's catalogs as WSCDeinstallProvider, WSCUpdateProvider and
// WSCWriteProviderOrder do, with their arguments and answers.
#pragma once
#include "CatalogStore.h"

int DeinstallProviderIn(CatalogView view, LPGUID lpProviderId, LPINT lpErrno);
int UpdateProviderIn(CatalogView view, LPGUID lpProviderId, const WCHAR* lpszProviderDllPath,
                     const WSAPROTOCOL_INFOW* lpProtocolInfoList, DWORD dwNumberOfEntries,
                     LPINT lpErrno);
int WriteProviderOrderIn(CatalogView view, LPDWORD lpwdCatalogEntryId, DWORD dwNumberOfEntries);
