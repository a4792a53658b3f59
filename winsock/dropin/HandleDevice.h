// Socket handles for providers without handles of their own (non-IFS providers): each is an
// open of the handle driver's device, a real file handle that an application can bind to its
// completion port, wait on and close, and through which the provider's completions reach the
// application's event, port or both, as Windows' helper driver does.
#pragma once
#include "WinsockHeaders.h"

// A new open of the device, the driver being registered and started on the process's first
// need; null when the driver cannot be had, which is said once on the standard error.
HANDLE OpenDeviceHandle();

// The slot of each thread's completion event, taken at load (false when none is left), and the
// event of the calling thread closed as it ends.
bool SetUpCompletionEvents();
void CloseCompletionEvent();

// The status a completion with the provider's error writes: the error itself when it is a
// status of the system already, else the Winsock error in a status the system turns back into
// it.
LONG CompletionStatus(DWORD error);

// Completes the application's request on a device handle with the provider's error and byte
// count. The completion arrives through Wine's device host a moment after the return. False
// (with the system's error) when the handle is no open of the device any more.
bool CompleteOnDeviceHandle(HANDLE handle, LPWSAOVERLAPPED overlapped, DWORD error,
                            DWORD bytes);
