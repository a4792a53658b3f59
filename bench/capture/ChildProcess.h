// A process the benchmark starts and waits for, ended by force if it outlives its wait.
#pragma once
#include <windows.h>

#include <string>

class ChildProcess {
public:
    ChildProcess() = default;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess();

    // outputFile, when given, is made anew and receives the child's standard output.
    bool Start(const std::string& commandLine, const char* outputFile = nullptr);
    // True when the process ended within timeoutMs, with its exit code in *exitCode.
    bool Wait(DWORD timeoutMs, DWORD* exitCode = nullptr);
    DWORD Id() const { return info.dwProcessId; }

private:
    PROCESS_INFORMATION info = {};
};
