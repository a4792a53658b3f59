// One workload of bench_sockets.exe, run in a child process for one measurement, and the
// figures it printed about itself.
#pragma once

#include <string>

struct Workload {
    const char* name;   // the prefix of its figures in bench_sockets' output
    const char* mode;   // bench_sockets --mode
    bool bulk;          // the bulk transfer, otherwise the round trips
};

struct WorkloadSizes {
    long roundtrips;
    long bulkMiB;
};

struct WorkloadRun {
    bool ok = false;
    std::string failure;   // when not ok
    double seconds = 0;    // what its timed loop took
    double dataCalls = 0;  // sends and receives it made, each moving at least one byte
    double dataBytes = 0;  // bytes they moved, sent and received together
    double megabytesPerSecond = 0;   // bulk only
};

// tracer, when given, is the command line that runs the workload traced: bench_sockets' own
// command line is appended to it.
WorkloadRun RunWorkload(const Workload& workload, const WorkloadSizes& sizes, const std::string& tracer = "");
