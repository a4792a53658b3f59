// Which catalog entry serves a request for a socket or an address conversion.
#pragma once
#include "CatalogStore.h"

// The first visible entry, in catalog order, for the family, type and protocol (0 meaning any,
// protocol 0 only where the entry accepts it), or the entry named by info. Returns 0 or the
// Winsock error of the request (WSAEAFNOSUPPORT, WSAESOCKTNOSUPPORT, WSAEPROTONOSUPPORT, ...).
int ChooseSocketEntry(int af, int type, int protocol, const WSAPROTOCOL_INFOW* info,
                      CatalogEntry& chosen);

// The first visible entry of the family, or the entry named by info; for address strings.
int ChooseFamilyEntry(int af, const WSAPROTOCOL_INFOW* info, CatalogEntry& chosen);
