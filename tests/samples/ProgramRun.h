// Runs a program of bin/ as a real child process and collects its exit code and console output.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct ProgramResult {
    DWORD exitCode = 0xdeadbeef;
    bool finished = false;  // false when it outlived the timeout and was ended
    std::string output;     // stdout and stderr together
};

// extraEnvironment holds "NAME=value" entries added to this process's environment.
ProgramResult RunProgram(const std::string& commandLine,
                         const std::vector<std::string>& extraEnvironment, DWORD timeoutMs);

// Whether a process with this executable name is running now.
bool ProcessRunning(const char* exeName);
