// The hidden window that stands between the provider below and an application's message-based
// notification: the provider below posts to it with its own socket handle, and it posts the
// application's message with the layered handle the application knows.
#pragma once
#include <windows.h>

// What the provider below is asked to post to the hidden window.
const UINT HiddenNotifyMessage = WM_USER + 1;

// The hidden window, its thread started first when there is none; null when it cannot be made.
// Called under mainLock.
HWND EnsureHiddenWindow();
// Asks the hidden thread to destroy its window and end, without waiting for it: the window
// procedure takes mainLock, which the caller may hold. Returns 0.
int DestroyHiddenWindow();
