// What tracing costs the traced program, measured against the floor under every record.
//   capture_bench [--roundtrips N] [--bulk-mib N] [--bare-rounds N]
//   run from the build's bin folder with WINEDLLOVERRIDES=ws2_32=n,b
// 1. A bare WM_COPYDATA round trip to a window of another process that only replies.
// 2. The round trips and the bulk transfer of bench_sockets.exe, synchronous and overlapped, each
//    in a child process: first with the layer installed but the viewer stopped (the reference,
//    no records), then traced at Low, Medium and High by the real kestrix.exe and by kestrixrun.exe
//    writing a text file, level by level.
// Per level and workload: the records the viewer received, records per second of the workload,
// what one record adds to it (the time over the reference's, per record) in microseconds and
// against the bare round trip, and MB/s of the bulk transfer. The record count is the workload's
// data calls times the records per call of the level, and is checked: the viewer's Sent and
// Received counters must add up to the bytes the calls moved, and its log file must hold the
// expected lines for the calls (kestrixrun's file, the lines only).
#include "Architecture.h"
#include <windows.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

#include "BareRoundTrip.h"
#include "SocketWorkload.h"
#include "TracedSession.h"

namespace {

struct Options {
    long roundtrips = 2000;
    long bulkMiB = 4;
    long bareRounds = 5000;
};

const Workload Workloads[] = {
    {"roundtrip", "sync", false},
    {"overlapped_roundtrip", "overlapped", false},
    {"bulk", "sync", true},
    {"overlapped_bulk", "overlapped", true},
};
const int WorkloadCount = sizeof Workloads / sizeof Workloads[0];

struct Level {
    const char* name;
    DWORD detail;
    int recordsPerCall;   // Low: the data record; Medium and High: the call's text, then its data
    int logLinesPerCall;  // Low writes no line for data
};

const Level Levels[] = {
    {"Low", 0, 1, 0},
    {"Medium", 1, 2, 2},
    {"High", 2, 2, 2},
};

Options ParseOptions(int argc, char** argv)
{
    Options options;
    struct {
        const char* name;
        long* value;
    } table[] = {{"--roundtrips", &options.roundtrips},
                 {"--bulk-mib", &options.bulkMiB},
                 {"--bare-rounds", &options.bareRounds}};
    for (int i = 1; i < argc; ++i) {
        bool known = false;
        for (auto& row : table) {
            if (strcmp(argv[i], row.name) == 0 && i + 1 < argc) {
                *row.value = strtol(argv[++i], nullptr, 10);
                known = *row.value > 0;
            }
        }
        if (!known) {
            printf("usage: capture_bench [--roundtrips N] [--bulk-mib N] [--bare-rounds N] (counts above 0)\n");
            exit(2);
        }
    }
    return options;
}

// What the viewer showed of one traced workload, against what the workload says it did: "ok",
// or the numbers that differ.
std::string CheckRecords(const Level& level, const WorkloadRun& run, double counted, long lines)
{
    long expectedLines = long(run.dataCalls) * level.logLinesPerCall;
    if (counted == run.dataBytes && lines == expectedLines)
        return "ok";
    char text[160];
    snprintf(text, sizeof text, "MISMATCH: counters %.0f bytes of %.0f, log %ld lines of %ld", counted,
             run.dataBytes, lines, expectedLines);
    return text;
}

const char RunLogFileName[] = "capture-bench-run.log";

const double None = std::numeric_limits<double>::quiet_NaN();   // a figure that has no meaning here

// One line of the table; None is shown as "-".
struct Row {
    const char* level;
    const char* workload;
    double calls, records, seconds, recordsPerSecond, microsecondsPerRecord, timesBare, megabytesPerSecond;
    std::string note;
};

void PrintFigure(const char* format, int width, double value)
{
    if (std::isnan(value))
        printf(" %*s", width, "-");
    else
        printf(format, width, value);
}

const char HeaderFormat[] = "%-7s %-21s %6s %8s %9s %10s %10s %7s %8s  %s\n";

void PrintRow(const Row& row)
{
    printf("%-7s %-21s", row.level, row.workload);
    PrintFigure(" %*.0f", 6, row.calls);
    PrintFigure(" %*.0f", 8, row.records);
    PrintFigure(" %*.3f", 9, row.seconds);
    PrintFigure(" %*.0f", 10, row.recordsPerSecond);
    PrintFigure(" %*.1f", 10, row.microsecondsPerRecord);
    PrintFigure(" %*.2f", 7, row.timesBare);
    PrintFigure(" %*.2f", 8, row.megabytesPerSecond);
    printf("  %s\n", row.note.c_str());
    fflush(stdout);
}

void PrintFailure(const char* level, const char* workload, const std::string& what)
{
    printf("%-7s %-21s FAILED: %s\n", level, workload, what.c_str());
    fflush(stdout);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && strcmp(argv[1], "receiver") == 0)
        return RunReceiver();
    Options options = ParseOptions(argc, argv);
    printf("build: %s\n", KESTRIX_BITNESS);  // which of the two builds these figures are from
    // The viewer installs the layer from its working directory, which it takes from us.
    if (GetFileAttributesA("kestrixlayer.dll") == INVALID_FILE_ATTRIBUTES) {
        printf("capture_bench: run it in the build's bin folder, where kestrixlayer.dll is\n");
        return 2;
    }
    WorkloadSizes sizes = {options.roundtrips, options.bulkMiB};

    double bare = BareRoundTripMicroseconds(int(options.bareRounds));
    if (bare <= 0) {
        printf("capture_bench: the bare receiver did not come up\n");
        return 1;
    }
    printf("bare WM_COPYDATA round trip (96 bytes): %.1f us (%ld rounds)\n", bare, options.bareRounds);
    printf("workloads: bench_sockets %ld round trips of 64 bytes, %ld MiB bulk; each in its own process\n",
           options.roundtrips, options.bulkMiB);
    printf(HeaderFormat, "level", "workload", "calls", "records", "seconds", "records/s", "us/record", "x bare",
           "MB/s", "check");

    // The reference: the viewer started and stopped again leaves the layer in the catalog with
    // the control block closed, so the layer passes every call on and reports nothing.
    WorkloadRun reference[WorkloadCount];
    {
        TracedSession viewer;
        if (!viewer.Open(0) || !viewer.StartCapture() || !viewer.StopCapture()) {
            printf("capture_bench: the viewer did not start and stop\n");
            return 1;
        }
        for (int w = 0; w < WorkloadCount; w++) {
            const WorkloadRun& run = reference[w] = RunWorkload(Workloads[w], sizes);
            if (run.ok)
                PrintRow({"layer", Workloads[w].name, run.dataCalls, 0, run.seconds, None, None, None,
                          Workloads[w].bulk ? run.megabytesPerSecond : None, "no viewer"});
            else
                PrintFailure("layer", Workloads[w].name, run.failure);
        }
    }

    bool allOk = true;
    std::string highBulk;
    auto printTraced = [&](const char* name, const Level& level, int w, const WorkloadRun& run, const std::string& check) {
        const Workload& workload = Workloads[w];
        double records = run.dataCalls * level.recordsPerCall;
        double added = (run.seconds - reference[w].seconds) * 1e6 / records;
        allOk = allOk && check == "ok";
        PrintRow({name, workload.name, run.dataCalls, records, run.seconds, records / run.seconds, added,
                  added / bare, workload.bulk ? run.megabytesPerSecond : None, check});
    };
    for (const Level& level : Levels) {
        TracedSession viewer;
        if (!viewer.Open(level.detail)) {
            PrintFailure(level.name, "-", "the viewer did not come up");
            allOk = false;
            continue;
        }
        for (int w = 0; w < WorkloadCount; w++) {
            const Workload& workload = Workloads[w];
            if (!viewer.StartCapture()) {
                PrintFailure(level.name, workload.name, "the viewer did not start");
                allOk = false;
                continue;
            }
            WorkloadRun run = RunWorkload(workload, sizes);
            bool stopped = viewer.StopCapture();
            if (!run.ok || !stopped || !reference[w].ok) {
                PrintFailure(level.name, workload.name,
                             !run.ok ? run.failure : !stopped ? "the viewer did not stop" : "no reference");
                allOk = false;
                continue;
            }
            printTraced(level.name, level, w,
                        run, CheckRecords(level, run, viewer.BytesSent() + viewer.BytesReceived(),
                                          viewer.DataCallLines()));
            if (workload.bulk && level.detail == 2) {
                char text[64];
                snprintf(text, sizeof text, " %s %.2f MB/s", workload.mode, run.megabytesPerSecond);
                highBulk += text;
            }
        }
        viewer.Close();
        // the same workloads traced by kestrixrun into a text file; it checks the bytes itself
        // no more than the viewer's file does, so only the lines are compared
        const char* const levelOptions[] = {"low", "medium", "high"};
        std::string tracer = std::string("kestrixrun.exe --detail ") + levelOptions[level.detail] + " --output " +
                             RunLogFileName + " ";
        std::string runName = std::string("run-") + level.name;
        for (int w = 0; w < WorkloadCount; w++) {
            WorkloadRun run = RunWorkload(Workloads[w], sizes, tracer);
            if (!run.ok || !reference[w].ok) {
                PrintFailure(runName.c_str(), Workloads[w].name, !run.ok ? run.failure : "no reference");
                allOk = false;
                continue;
            }
            printTraced(runName.c_str(), level, w, run,
                        CheckRecords(level, run, run.dataBytes, DataCallLinesIn(RunLogFileName)));
        }
        DeleteFileA(RunLogFileName);
    }
    printf("bulk transfer at High (every byte in a record):%s\n", highBulk.c_str());
    printf("records/s: the workload's records over its time; us/record: its time over the reference's, per\n"
           "record; x bare: us/record over the bare round trip; check: the viewer's byte counters and log lines,\n"
           "for run-* rows kestrixrun's log lines\n");
    return allOk ? 0 : 1;
}
