// Which of the layer's chains a protocol information names, and the fields that name an entry.
#pragma once
#include "ProviderState.h"

// The chain that info names: ours by its catalog id, or, when a layer above passes its own
// chain's information, the chain of ours that continues it from our place on. Null for none.
LowerProvider* FindChainNamedBy(const WSAPROTOCOL_INFOW& info);

// Gives a protocol record the provider, catalog id and protocol chain of entry, keeping what
// it says about the socket. The record is wide or narrow: both begin with the same fields.
void TakeEntryIdentity(void* record, const WSAPROTOCOL_INFOW& entry);
