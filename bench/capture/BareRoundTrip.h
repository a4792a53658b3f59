// The floor under every record: a WM_COPYDATA message of record size sent to a window of another
// process that only replies.
#pragma once

// The receiver's side, run as "capture_bench.exe receiver": a message-only window until closed.
int RunReceiver();

// Microseconds of one round trip, averaged over rounds; 0 when the receiver did not come up.
double BareRoundTripMicroseconds(int rounds);
