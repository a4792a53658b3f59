// A small non-IFS service provider for the drop-in's tests: its handles come from
// WPUCreateSocketHandle, it completes overlapped sends at once and overlapped receives when the
// test says so, through the upcalls, aborts the receives still pending when a socket closes, and
// lets the test see how often it was started and cleaned up.
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
// Control code that completes the socket's oldest pending receive with the ProbeOutcome given
// as input; WSAENOTCONN when none is pending, else what WPUCompleteOverlappedRequest answered.
constexpr DWORD probeCompleteReceive = 0x98765002;
struct ProbeOutcome {
    DWORD error;
    DWORD bytes;
};
// What the probe leaves in OffsetHigh of a receive it completes, beside the error in Offset:
// its own record, which the Winsock layer must not touch.
constexpr DWORD probeRecordMark = 0x5eed0000;
// Family the probe is installed for in tests (no base entry has it).
constexpr int probeFamily = AF_APPLETALK;

using ProbeStateFunction = ProbeState*(WINAPI*)();
using ProbeExtensionFunction = int(WINAPI*)();
