#include "ChildProcess.h"

ChildProcess::~ChildProcess()
{
    if (!info.hProcess)
        return;
    if (WaitForSingleObject(info.hProcess, 0) == WAIT_TIMEOUT)
        TerminateProcess(info.hProcess, 1);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
}

bool ChildProcess::Start(const std::string& commandLine, const char* outputFile)
{
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    HANDLE output = INVALID_HANDLE_VALUE;
    if (outputFile) {
        SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
        output = CreateFileA(outputFile, GENERIC_WRITE, FILE_SHARE_READ, &inherited, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
        if (output == INVALID_HANDLE_VALUE)
            return false;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        startup.hStdOutput = output;
        startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    }
    std::string line = commandLine;
    BOOL started = CreateProcessA(nullptr, &line[0], nullptr, nullptr, outputFile != nullptr, 0, nullptr, nullptr,
                                  &startup, &info);
    // the child holds its own copy of the handle
    if (output != INVALID_HANDLE_VALUE)
        CloseHandle(output);
    return started != FALSE;
}

bool ChildProcess::Wait(DWORD timeoutMs, DWORD* exitCode)
{
    if (!info.hProcess || WaitForSingleObject(info.hProcess, timeoutMs) != WAIT_OBJECT_0)
        return false;
    DWORD code = 0;
    GetExitCodeProcess(info.hProcess, &code);
    if (exitCode)
        *exitCode = code;
    return true;
}
