#include "SpiedProcessWatch.h"

void WatchSpiedProcess(SpiedProcessWatch& watch, DWORD processId)
{
    StopWatchingProcess(watch);
    watch.process = OpenProcess(SYNCHRONIZE, FALSE, processId);
}

bool SpiedProcessEnded(SpiedProcessWatch& watch)
{
    if (!watch.process || WaitForSingleObject(watch.process, 0) != WAIT_OBJECT_0)
        return false;
    StopWatchingProcess(watch);
    return true;
}

void StopWatchingProcess(SpiedProcessWatch& watch)
{
    if (watch.process)
        CloseHandle(watch.process);
    watch.process = nullptr;
}
