// Reads the whole Winsock catalog into one buffer from the process heap.
#pragma once
#include <winsock2.h>
#include <ws2spi.h>

typedef int(WSPAPI* EnumProtocolsFunction)(LPINT, LPWSAPROTOCOL_INFOW, LPDWORD, LPINT);

// Returns the entries and their count, or null when the catalog cannot be read.
WSAPROTOCOL_INFOW* EnumerateCatalog(int* count);
// The same through another enumeration: a 64-bit process reads the catalog of 32-bit processes
// with WSCEnumProtocols32.
WSAPROTOCOL_INFOW* EnumerateCatalogWith(EnumProtocolsFunction enumerate, int* count);
void FreeCatalog(WSAPROTOCOL_INFOW* catalog);
