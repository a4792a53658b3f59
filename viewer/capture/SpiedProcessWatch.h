// Notices a traced process that ends without its "process detached" record (killed, crashed).
#pragma once
#include <windows.h>

struct SpiedProcessWatch {
    HANDLE process;
};

void WatchSpiedProcess(SpiedProcessWatch& watch, DWORD processId);
// True once the watched process has ended; the watch is then released.
bool SpiedProcessEnded(SpiedProcessWatch& watch);
void StopWatchingProcess(SpiedProcessWatch& watch);
