#include "ProgramRun.h"

#include <tlhelp32.h>

#include <string.h>

namespace {

std::string EnvironmentBlock(const std::vector<std::string>& extra) {
    std::string block;
    char* current = GetEnvironmentStringsA();
    for (const char* entry = current; *entry; entry += strlen(entry) + 1)
        block.append(entry, strlen(entry) + 1);
    FreeEnvironmentStringsA(current);
    for (const std::string& entry : extra)
        block.append(entry.c_str(), entry.size() + 1);
    block.push_back('\0');
    return block;
}

}  // namespace

ProgramResult RunProgram(const std::string& commandLine,
                         const std::vector<std::string>& extraEnvironment, DWORD timeoutMs) {
    ProgramResult result;
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inheritable, 0)) {
        result.output = "CreatePipe failed";
        return result;
    }
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    std::string environment = EnvironmentBlock(extraEnvironment);
    std::string line = commandLine;
    PROCESS_INFORMATION process = {};
    BOOL started = CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, 0, &environment[0],
                                  nullptr, &startup, &process);
    CloseHandle(writeEnd);
    if (!started) {
        result.output = "CreateProcessA failed with error " + std::to_string(GetLastError());
        CloseHandle(readEnd);
        return result;
    }

    // Poll the pipe rather than block on it: a grandchild left running would hold its write
    // end open, and the test must still come back.
    DWORD deadline = GetTickCount() + timeoutMs;
    DWORD drainUntil = 0;
    for (;;) {
        DWORD available = 0;
        bool open = PeekNamedPipe(readEnd, nullptr, 0, nullptr, &available, nullptr);
        if (available > 0) {
            char buffer[4096];
            DWORD got = 0;
            if (ReadFile(readEnd, buffer, available < sizeof buffer ? available : sizeof buffer,
                         &got, nullptr))
                result.output.append(buffer, got);
            continue;
        }
        if (!result.finished && WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0) {
            result.finished = true;
            drainUntil = GetTickCount() + 3000;
        }
        if (!open || (result.finished && GetTickCount() > drainUntil))
            break;
        if (!result.finished && GetTickCount() > deadline) {
            TerminateProcess(process.hProcess, 0xdead);
            WaitForSingleObject(process.hProcess, 5000);
            break;
        }
        Sleep(10);
    }
    GetExitCodeProcess(process.hProcess, &result.exitCode);
    CloseHandle(readEnd);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return result;
}

bool ProcessRunning(const char* exeName) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return false;
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    bool found = false;
    for (BOOL more = Process32First(snapshot, &entry); more && !found;
         more = Process32Next(snapshot, &entry))
        found = lstrcmpiA(entry.szExeFile, exeName) == 0;
    CloseHandle(snapshot);
    return found;
}
