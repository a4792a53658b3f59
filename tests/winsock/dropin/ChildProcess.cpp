#include "ChildProcess.h"

HANDLE StartProcess(const std::wstring& commandLine, bool suspended, HANDLE* thread)
{
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    std::wstring mutableLine = commandLine;
    if (!CreateProcessW(nullptr, mutableLine.data(), nullptr, nullptr, FALSE,
                        suspended ? CREATE_SUSPENDED : 0, nullptr, nullptr, &startup, &process))
        return nullptr;
    if (thread)
        *thread = process.hThread;
    else
        CloseHandle(process.hThread);
    return process.hProcess;
}

int RunProcess(const std::wstring& commandLine, DWORD timeoutMs)
{
    HANDLE process = StartProcess(commandLine);
    if (!process)
        return -1;
    DWORD code = static_cast<DWORD>(-1);
    if (WaitForSingleObject(process, timeoutMs) == WAIT_OBJECT_0)
        GetExitCodeProcess(process, &code);
    else
        TerminateProcess(process, 99);
    CloseHandle(process);
    return static_cast<int>(code);
}
