// The application's message handling around the main window: keyboard shortcuts, dialog keys,
// the hint of the control under the mouse, and the idle update of the edit commands.
#pragma once
#include "Form1.h"

// Handles one message as the program's loop does; returns false for WM_QUIT.
bool DispatchApplicationMessage(TForm1* form, MSG& message);

// Handles every waiting message, then does the idle work once.
void ProcessMessages(TForm1* form);

// The program's message loop; returns the exit code of WM_QUIT.
int RunApplication(TForm1* form);
