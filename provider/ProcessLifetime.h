// What the DLL does when a process loads and unloads it.
#pragma once
#include <windows.h>

// Locks and the per-thread slot; then the claim of the viewer's control block.
void ProcessAttach(HINSTANCE instance);
// Closes and reports the remaining sockets, stops the lower providers, then says goodbye to the
// viewer, in that order. reserved is the DllMain argument: null when unloaded by FreeLibrary.
void ProcessDetach(void* reserved);

void InitializeProcessLocks();
