// Functions that are not transport work go straight to Wine's own library. Each is a jump through
// a slot filled at load, so it needs no knowledge of its arguments. The list is made at build
// time from the "= Forwarded_" lines of ws2_32.def.
#pragma once
#include <windows.h>

// Fills every slot from Wine's library; false when one of them is missing there.
bool ResolveForwardedHelpers(HMODULE wineWinsock);
