// The floor under every record: a WM_COPYDATA message of record size sent to a window of another
// process that only replies.
#pragma once

#include "ChildProcess.h"

#include <windows.h>

// The receiver's side, run as "PROGRAM receiver": a message-only window until closed.
int RunReceiver();

// A receiver process kept for a whole run, so that round trips can be measured between other cases.
class BareReceiver {
public:
    BareReceiver() = default;
    BareReceiver(const BareReceiver&) = delete;
    BareReceiver& operator=(const BareReceiver&) = delete;
    ~BareReceiver();

    // Starts "program receiver" and waits for its window.
    bool Start(const char* program);
    // Microseconds of one round trip of a recordBytes message, averaged over rounds.
    double RoundTripMicroseconds(int rounds, DWORD recordBytes = 96) const;

private:
    ChildProcess process;
    HWND window = nullptr;
};

// Microseconds of one round trip to capture_bench.exe's receiver, averaged over rounds; 0 when
// the receiver did not come up.
double BareRoundTripMicroseconds(int rounds);
