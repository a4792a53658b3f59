// Runs a server program and its client as one check: the server first, then the client, both
// told where the server writes its port. Exits 0 only when both exit 0 in time.
//   run_pair SERVER CLIENT [--timeout-ms N]
// Each program gets "--port-file PATH" (the server also "--port 0").
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

namespace {

constexpr DWORD kDefaultTimeoutMs = 30000;

[[noreturn]] void Stop(const char* format, const char* a = "", const char* b = "") {
    printf("run_pair: FAILED: ");
    printf(format, a, b);
    printf("\n");
    fflush(stdout);
    ExitProcess(1);
}

struct Child {
    const char* program;
    PROCESS_INFORMATION process;
    bool finished;
};

Child Start(const char* program, const std::string& arguments) {
    std::string commandLine = "\"" + std::string(program) + "\" " + arguments;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    Child child = {program, {}, false};
    if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &startup, &child.process)) {
        std::string error = std::to_string(GetLastError());
        Stop("cannot start %s (error %s)", program, error.c_str());
    }
    printf("run_pair: started %s (process %lu)\n", program, child.process.dwProcessId);
    fflush(stdout);
    return child;
}

void EndAll(Child* children, int count) {
    for (int i = 0; i < count; ++i) {
        if (!children[i].finished)
            TerminateProcess(children[i].process.hProcess, 1);
    }
}

std::string MakePortFilePath() {
    char folder[MAX_PATH], path[MAX_PATH];
    if (!GetTempPathA(sizeof folder, folder) || !GetTempFileNameA(folder, "kxp", 0, path))
        Stop("cannot make a temporary file name");
    // The name is reserved; the server's rename to it tells the client the port is ready.
    DeleteFileA(path);
    return path;
}

}  // namespace

int main(int argc, char** argv) {
    DWORD timeoutMs = kDefaultTimeoutMs;
    if (argc == 5 && strcmp(argv[3], "--timeout-ms") == 0)
        timeoutMs = strtoul(argv[4], nullptr, 10);
    else if (argc != 3)
        Stop("usage: run_pair SERVER CLIENT [--timeout-ms N]");

    std::string portFile = MakePortFilePath();
    Child children[2];
    children[0] = Start(argv[1], "--port 0 --port-file \"" + portFile + "\"");
    children[1] = Start(argv[2], "--port-file \"" + portFile + "\"");

    DWORD deadline = GetTickCount() + timeoutMs;
    int running = 2;
    while (running > 0) {
        HANDLE waiting[2];
        int indexes[2];
        int count = 0;
        for (int i = 0; i < 2; ++i) {
            if (!children[i].finished) {
                indexes[count] = i;
                waiting[count++] = children[i].process.hProcess;
            }
        }
        DWORD now = GetTickCount();
        DWORD left = now < deadline ? deadline - now : 0;
        DWORD result = WaitForMultipleObjects(count, waiting, FALSE, left);
        if (result == WAIT_TIMEOUT) {
            EndAll(children, 2);
            std::string limit = std::to_string(timeoutMs);
            Stop("%s did not finish within %s ms", children[indexes[0]].program, limit.c_str());
        }
        if (result >= WAIT_OBJECT_0 + count)
            Stop("waiting for the programs failed");
        Child& done = children[indexes[result - WAIT_OBJECT_0]];
        done.finished = true;
        --running;
        DWORD code = 1;
        GetExitCodeProcess(done.process.hProcess, &code);
        if (code != 0) {
            // The other one cannot succeed alone; end it rather than wait out its timeouts.
            EndAll(children, 2);
            std::string text = std::to_string(code);
            Stop("%s exited with code %s", done.program, text.c_str());
        }
    }
    DeleteFileA(portFile.c_str());
    printf("run_pair: %s and %s both succeeded\n", argv[1], argv[2]);
    return 0;
}
