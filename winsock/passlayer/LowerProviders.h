// The providers below the pass-through layer, one per protocol chain it was started for,
// and which of them owns each socket handed up to the application.
#pragma once
#include <winsock2.h>
#include <ws2spi.h>

struct LowerProvider {
    WSAPROTOCOL_INFOW chain; // the chain entry the layer was started for
    DWORD chainId;           // its catalog id
    DWORD layerId;           // the layer's own hidden entry, under which it registers handles
    WSAPROTOCOL_INFOW below; // the next entry of the chain
    HMODULE module;
    WSPPROC_TABLE table;
};

// Loads and starts the provider below the chain *chain, or finds it when already started.
// Returns 0 or a Winsock error code.
int StartLowerProvider(WORD version, const WSAPROTOCOL_INFOW* chain, WSPUPCALLTABLE upcalls,
                       LPWSPDATA data, LowerProvider** lower);
// Cleans up and frees every lower provider.
void StopLowerProviders();

// The lower provider for a catalog entry given to WSPSocket and the address conversions:
// one of the layer's chains, or an entry below one of them. Null when none matches.
LowerProvider* LowerForEntry(const WSAPROTOCOL_INFOW* entry);
// Any started lower provider, for the entries that name no socket and no entry.
LowerProvider* AnyLowerProvider();

// The protocol information the lower provider expects in place of the application's: its
// own entry when it is a base provider (with the provider-private part an application may
// carry over from a duplicated socket), the chain when it is another layer.
WSAPROTOCOL_INFOW LowerInfoFor(const LowerProvider* lower, const WSAPROTOCOL_INFOW* given);

// Registers a handle the lower provider made as the layer's own; on refusal closes it below.
SOCKET AdoptLowerHandle(LowerProvider* lower, SOCKET handle, LPINT lpErrno);
// The lower provider that owns s; stores WSAENOTSOCK and returns null when none does.
LowerProvider* LowerForSocket(SOCKET s, LPINT lpErrno);
void ForgetSocket(SOCKET s);
// Records (again) that s belongs to lower.
void RememberSocket(SOCKET s, LowerProvider* lower);

extern WSPUPCALLTABLE layerUpcalls;
