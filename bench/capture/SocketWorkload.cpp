#include "SocketWorkload.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

#include "ChildProcess.h"

namespace {

const char OutputFile[] = "capture-bench-workload.txt";
const DWORD WorkloadPatience = 120000;

// The "name value" lines of the output; the per-run lines have more words and are skipped.
std::map<std::string, double> ReadFigures(const char* fileName)
{
    std::map<std::string, double> figures;
    std::ifstream file(fileName);
    for (std::string line; std::getline(file, line);) {
        std::istringstream words(line);
        std::string name, value, extra;
        if (words >> name >> value && !(words >> extra))
            figures[name] = strtod(value.c_str(), nullptr);
    }
    return figures;
}

}  // namespace

WorkloadRun RunWorkload(const Workload& workload, const WorkloadSizes& sizes, const std::string& tracer)
{
    char workloadLine[160];
    snprintf(workloadLine, sizeof workloadLine, "bench_sockets.exe --mode %s --runs 1 --roundtrips %ld --bulk-mib %ld",
             workload.mode, workload.bulk ? 0 : sizes.roundtrips, workload.bulk ? sizes.bulkMiB : 0);
    std::string commandLine = tracer + workloadLine;
    WorkloadRun run;
    ChildProcess child;
    DWORD exitCode = 1;
    if (!child.Start(commandLine, OutputFile)) {
        run.failure = "could not start " + commandLine;
        return run;
    }
    if (!child.Wait(WorkloadPatience, &exitCode)) {
        run.failure = commandLine + " did not end in time";
        return run;
    }
    if (exitCode != 0) {
        std::ifstream output(OutputFile);
        std::string said((std::istreambuf_iterator<char>(output)), std::istreambuf_iterator<char>());
        run.failure = commandLine + " failed with exit code " + std::to_string(exitCode) + ":\n" + said;
        return run;
    }
    std::map<std::string, double> figures = ReadFigures(OutputFile);
    DeleteFileA(OutputFile);
    const struct {
        const char* suffix;
        double* value;
        bool needed;
    } wanted[] = {{"_seconds", &run.seconds, true},
                  {"_data_calls", &run.dataCalls, true},
                  {"_data_bytes", &run.dataBytes, true},
                  {"_mb_per_s", &run.megabytesPerSecond, workload.bulk}};
    for (const auto& figure : wanted) {
        auto found = figures.find(std::string(workload.name) + figure.suffix);
        if (found != figures.end())
            *figure.value = found->second;
        else if (figure.needed)
            run.failure = std::string("no ") + workload.name + figure.suffix + " from " + commandLine;
    }
    run.ok = run.failure.empty();
    return run;
}
