// A small non-IFS service provider for the drop-in's tests: its handles come from
// WPUCreateSocketHandle, it completes overlapped sends through the upcalls, and it lets the test
// see how often it was started and cleaned up.
#pragma once
#include <winsock2.h>
#include <ws2spi.h>

struct ProbeState {
    LONG startups;
    LONG cleanups;
    WSPUPCALLTABLE upcalls;
    DWORD catalogId;       // the id it creates handles under
    DWORD_PTR lastContext; // context given to the last handle it created
};

// Control code that returns the context of a probe socket in a DWORD_PTR.
constexpr DWORD probeQueryContext = 0x98765001;
// Family the probe is installed for in tests (no base entry has it).
constexpr int probeFamily = AF_APPLETALK;

using ProbeStateFunction = ProbeState*(WINAPI*)();
using ProbeExtensionFunction = int(WINAPI*)();
