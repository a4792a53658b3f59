// Process-wide state of the drop-in: WSAStartup count, Wine's own library, per-thread ids.
#pragma once
#include "WinsockHeaders.h"

bool WinsockStarted();

// Wine's own ws2_32, loaded by its full system path; it does the work that is not transport.
HMODULE WineWinsock();

// The calling thread's id for providers that queue completion routines to it; kept open for
// the thread's lifetime.
LPWSATHREADID CurrentThreadId();
