// The shared control block through which one process at a time claims the viewer's trace.
#pragma once
#include <windows.h>

#define KESTRIX_SEMAPHORE_NAME "Kestrix Semaphore"
#define KESTRIX_MAPPING_NAME "Kestrix Shared Memory"

enum DetailLevel : DWORD {
    Low = 0,
    Medium = 1,
    High = 2,
};

#pragma pack(push, 1)
struct ControlBlock {
    DWORD viewerWindow;   // HWND of the viewer's main window, destination of every record
    DWORD claimed;        // 0 open for a claim; 1 claimed, or closed because the capture stopped
    DWORD processId;      // the process that claimed the block
    DWORD detailLevel;    // a DetailLevel
    FILETIME startTime;   // UTC; only processes created at or after it may claim
    DWORD acknowledged;   // 0 at the claim; 1 once the viewer accepted the first record
};
#pragma pack(pop)

static_assert(sizeof(ControlBlock) == 28, "the control block is shared with other processes");
