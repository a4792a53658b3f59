// Creates and closes sockets, many times over, and checks that the process's handles and heap
// memory come back to where they were. Exit code 0 when they do.
//   manysockets [count]
#include <winsock2.h>
#include <cstdio>
#include <cstdlib>

// Heap memory in use, over every heap of the process (the layers' private heaps among them).
static SIZE_T BusyBytes()
{
    HANDLE heaps[256];
    DWORD count = GetProcessHeaps(256, heaps);
    SIZE_T busy = 0;
    for (DWORD i = 0; i < count && i < 256; i++) {
        if (!HeapLock(heaps[i]))
            continue;
        PROCESS_HEAP_ENTRY entry = {};
        while (HeapWalk(heaps[i], &entry)) {
            if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY)
                busy += entry.cbData;
        }
        HeapUnlock(heaps[i]);
    }
    return busy;
}

// Handles open: the count where the system keeps one, else the value a new handle gets, which
// grows with every handle left open (handle values are taken lowest free first).
static DWORD HandleMark()
{
    DWORD count = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &count) && count)
        return count;
    HANDLE probe = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    CloseHandle(probe);
    return static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(probe) / 4);
}

static bool Churn(int count)
{
    for (int i = 0; i < count; i++) {
        SOCKET s = socket(AF_INET, i % 2 ? SOCK_DGRAM : SOCK_STREAM, 0);
        if (s == INVALID_SOCKET || closesocket(s) != 0)
            return false;
    }
    return true;
}

int main(int argc, char** argv)
{
    int count = argc > 1 ? atoi(argv[1]) : 100000;
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0 || !Churn(1000))   // every lazy start made
        return 1;
    DWORD handlesBefore = HandleMark();
    SIZE_T bytesBefore = BusyBytes();
    if (!Churn(count)) {
        printf("manysockets: FAILED: socket or closesocket failed (%d)\n", WSAGetLastError());
        return 1;
    }
    DWORD handlesAfter = HandleMark();
    SIZE_T bytesAfter = BusyBytes();
    printf("manysockets: %d sockets; handles %lu -> %lu, heap bytes in use %lu -> %lu\n", count,
           handlesBefore, handlesAfter, static_cast<unsigned long>(bytesBefore),
           static_cast<unsigned long>(bytesAfter));
    WSACleanup();
    // A few handles and bytes may come and go with the system's own work; a leak per socket
    // would show as thousands.
    bool handlesBack = handlesAfter <= handlesBefore + 16;
    bool bytesBack = bytesAfter <= bytesBefore + 64 * 1024;
    return handlesBack && bytesBack ? 0 : 1;
}
