// kestrixrun: traces one program's socket calls from the command line, as the viewer would, into
// a file or standard output.
#include <cstdio>
#include <string>
#include <vector>

#include "Arguments.h"
#include "TraceRun.h"

namespace {

const int UsageExitCode = 2;

}  // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> arguments(argv + 1, argv + argc);
    RunOptions options;
    std::string error = ParseArguments(arguments, options);
    if (!error.empty()) {
        fprintf(stderr, "kestrixrun: %s\n%s\n", error.c_str(), UsageText);
        return UsageExitCode;
    }
    return RunTrace(options);
}
