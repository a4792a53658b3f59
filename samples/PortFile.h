// How the HTTP pair meets on a port picked at run time: the server writes the port it listens
// on to a file once it is listening; the client waits for that file.
#pragma once

#include <windows.h>

// Written whole under a temporary name and then renamed, so a reader never sees half of it.
void WritePortFile(const char* path, unsigned short port);
// Waits up to timeoutMs for the file and returns the port; fails the sample otherwise.
unsigned short WaitForPortFile(const char* path, DWORD timeoutMs);
