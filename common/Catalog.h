// Reads the whole Winsock catalog into one buffer from the process heap.
#pragma once
#include <winsock2.h>

// Returns the entries and their count, or null when the catalog cannot be read.
WSAPROTOCOL_INFOW* EnumerateCatalog(int* count);
void FreeCatalog(WSAPROTOCOL_INFOW* catalog);
