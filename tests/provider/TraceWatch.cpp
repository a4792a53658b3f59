// Stands in for the viewer around one program: publishes the control block, runs the program,
// answers its records as the viewer does and prints them, one line each:
//   <process id> <kind or "-"> <payload length> <text>
// The exit code is the program's.
//   tracewatch [--detail 0|1|2] [--quiet] program [arguments...]
#include "ViewerStandIn.h"
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

static std::string RemainingCommandLine(int first, int argc, char** argv)
{
    std::string line;
    for (int i = first; i < argc; i++) {
        if (!line.empty())
            line += ' ';
        bool quote = strchr(argv[i], ' ') != nullptr;
        line += quote ? "\"" + std::string(argv[i]) + "\"" : std::string(argv[i]);
    }
    return line;
}

static void PrintRecords(const std::vector<Record>& records)
{
    for (const Record& record : records) {
        if (record.PayloadLength() >= 4)
            printf("%lu %lu %lu %s\n", record.processId, record.Kind(), record.PayloadLength(),
                   record.Text().c_str());
        else
            printf("%lu - 0 %s\n", record.processId, record.Text().c_str());
    }
    fflush(stdout);
}

int main(int argc, char** argv)
{
    DWORD detail = Medium;
    bool quiet = false;
    int first = 1;
    for (; first < argc && argv[first][0] == '-'; first++) {
        if (strcmp(argv[first], "--detail") == 0 && first + 1 < argc)
            detail = strtoul(argv[++first], nullptr, 10);
        else if (strcmp(argv[first], "--quiet") == 0)
            quiet = true;
        else
            break;
    }
    if (first >= argc) {
        fprintf(stderr, "usage: tracewatch [--detail 0|1|2] [--quiet] program [arguments...]\n");
        return 2;
    }
    ViewerStandIn viewer;
    if (!viewer.Open(detail, ViewerStandIn::Now())) {
        fprintf(stderr, "tracewatch: could not publish the control block\n");
        return 2;
    }
    std::string commandLine = RemainingCommandLine(first, argc, argv);
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process;
    if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        fprintf(stderr, "tracewatch: could not start %s (%lu)\n", commandLine.c_str(),
                GetLastError());
        return 2;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD exitCode = 1;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    // The traced process may have been a child of the program; its goodbye ends the capture.
    ControlBlock* block = viewer.Block();
    if (block->claimed)
        viewer.WaitForDetach(block->processId, 5000);
    if (!quiet)
        PrintRecords(viewer.Records());
    else
        printf("tracewatch: %zu records\n", viewer.Records().size());
    viewer.Close();
    return static_cast<int>(exitCode);
}
