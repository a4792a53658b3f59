// The service providers started in this process: each DLL is loaded once, started through its
// WSPStartup once for every catalog entry that needs it, and cleaned up once per start.
#pragma once
#include "WinsockHeaders.h"

struct Provider {
    HMODULE module;
    WSPPROC_TABLE procTable; // from the first start; the same DLL hands out one table
    int startups;            // successful WSPStartup calls, each owed one WSPCleanup
};

// Starts the provider of a catalog entry unless it was started for it already. Returns the
// provider, or null with *error set.
Provider* StartProviderFor(const WSAPROTOCOL_INFOW& info, const WCHAR* path, int* error);

// The provider a catalog id stands for: the one started for that entry, or for a chain whose
// top is that (layered) id. Base entries not yet started are started on demand. Null when the
// id names no usable entry.
Provider* ProviderOfCatalogId(DWORD catalogId);

// Gives every started provider one WSPCleanup per start and unloads it, at once or, while an
// application call is still inside a provider, when the last such call returns.
void CleanupProviders();

// Bracket every application call that enters a provider (ProviderCall in Routing.h does).
void EnterProviderCall();
void LeaveProviderCall();

// The table handed to every provider's WSPStartup.
const WSPUPCALLTABLE& UpcallTable();
