// The viewer's half of the shared control block: the named semaphore and mapping that one
// traced process at a time claims.
#pragma once
#include "ControlBlock.h"

struct CaptureChannel {
    HANDLE semaphore;
    HANDLE mapping;
    ControlBlock* block;
};

// Creates the semaphore and the mapping. Returns null, or the message of the failure with
// nothing left open.
const char* CreateCaptureChannel(CaptureChannel& channel);

// First publication, before any process can know the objects: written without the semaphore.
void PublishControlBlock(CaptureChannel& channel, HWND viewerWindow, DWORD detailLevel);
// A later Start: opens the block again for the next process.
void RearmControlBlock(CaptureChannel& channel, DWORD detailLevel);
// Acknowledges the claim of processId; false when the block is not claimed by it.
bool AcceptClaim(CaptureChannel& channel, DWORD processId);
// After the traced process detached or died: open for the next process, with a new start time.
void ReopenControlBlock(CaptureChannel& channel);
// Stop: no process may claim the block while the viewer is stopped.
void CloseControlBlock(CaptureChannel& channel);
// Exit: closes the objects. The block is left claimed and the semaphore released first, so a
// process waiting on it at that moment finds the block closed instead of waiting for ever.
void DestroyCaptureChannel(CaptureChannel& channel);
