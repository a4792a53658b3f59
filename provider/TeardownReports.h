// The teardown's close reports wait until mainLock is let go. A record is a synchronous message:
// sent under the lock, a viewer slow to answer would stall every lookup of the process, and a
// window procedure of the sending thread could re-enter a table half torn down.
#pragma once
#include <winsock2.h>

struct SocketContext;

// Keeps what the report of context needs; sends at once when there is no room to keep it.
void QueueTeardownReport(int result, const SocketContext* context, int error);
// Sends the kept reports, in the order they were made, and forgets them.
void SendTeardownReports();
