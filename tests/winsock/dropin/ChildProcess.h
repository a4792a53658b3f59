// Test support: runs programs of the build folder as separate processes.
#pragma once
#include <windows.h>

#include <string>

// Starts commandLine (in the current folder); suspended when asked. Null on failure.
HANDLE StartProcess(const std::wstring& commandLine, bool suspended = false,
                    HANDLE* thread = nullptr);

// Runs commandLine to its end (at most timeoutMs) and returns its exit code, or -1.
int RunProcess(const std::wstring& commandLine, DWORD timeoutMs = 60000);
