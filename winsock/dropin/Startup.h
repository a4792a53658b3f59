// Process-wide state of the drop-in: the WSAStartup count, the module name, per-thread ids.
// Wine's own ws2_32 is loaded by its full system path at process attach.
#pragma once
#include "WinsockHeaders.h"

bool WinsockStarted();

// Wine's loader answers a load by bare name ("ws2_32.dll") from the module it last looked at
// under that name, which may be Wine's own library after a lookup in it. Looking at the
// drop-in makes programs and providers that load "ws2_32.dll" get the drop-in again.
void ReclaimBareName();

// The calling thread's id for providers that queue completion routines to it; kept open for
// the thread's lifetime.
LPWSATHREADID CurrentThreadId();

// SO_OPENTYPE, which a thread sets for the sockets socket() makes for it from then on: 0 (the
// default, overlapped), SO_SYNCHRONOUS_ALERT or SO_SYNCHRONOUS_NONALERT.
int ThreadOpenType();
void SetThreadOpenType(int openType);

// Wine's own WSAPoll, looked up at load; null where Wine has none. The drop-in's WSAPoll hands
// it the base handles of the sockets it is asked about.
using PollFunction = int(WSAAPI*)(LPWSAPOLLFD, ULONG, INT);
PollFunction WinePoll();
