// The catalog calls start-up makes, gathered so that unit tests can present a catalog of their
// own without installing anything in the real one.
#pragma once
#include <winsock2.h>
#include <ws2spi.h>

struct CatalogAccess {
    WSAPROTOCOL_INFOW* (*enumerate)(int* count);
    void (*free)(WSAPROTOCOL_INFOW* catalog);
    int (WSPAPI* getProviderPath)(GUID* providerId, WCHAR* path, int* pathLength, int* error);
    DWORD (WINAPI* expandWide)(const WCHAR* source, WCHAR* destination, DWORD size);
};

extern CatalogAccess catalogAccess;
// The real catalog, for tests that put it back.
extern const CatalogAccess systemCatalogAccess;
