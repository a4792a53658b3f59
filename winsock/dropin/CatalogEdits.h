// Edits of one catalog in memory, shared by the calls on the process's own catalog and those on
// the 32-bit one. Each is checked in full before anything changes, so that a refused edit leaves
// the catalog as it was, and returns 0 or the Winsock error to report.
#pragma once
#include "CatalogStore.h"

int InstallEntries(Catalog& catalog, const GUID& providerId, const WCHAR* path,
                   const WSAPROTOCOL_INFOW* entries, DWORD count);
int DeinstallEntries(Catalog& catalog, const GUID& providerId);
// Replaces the given entries of one provider in place (matched by catalog id) and sets the
// provider's path; ids and order stay as they are.
int UpdateEntries(Catalog& catalog, const GUID& providerId, const WCHAR* path,
                  const WSAPROTOCOL_INFOW* entries, DWORD count);
// The new order must name every entry exactly once.
int WriteOrder(Catalog& catalog, const DWORD* ids, DWORD count);

// The argument checks that installing and updating a provider share.
int ProviderArgumentsError(const GUID* id, const WCHAR* path, const WSAPROTOCOL_INFOW* entries,
                           DWORD count, const int* errorCell);
bool PathAcceptable(const WCHAR* path);
const CatalogEntry* FindEntry(const Catalog& catalog, DWORD catalogId);
bool HasProvider(const Catalog& catalog, const GUID& providerId);

// The SPI's way of answering: 0, or SOCKET_ERROR with the error in *lpErrno.
int Finish(int error, LPINT lpErrno);
