// run_pair with real child processes: it must succeed only when both programs do, name the one
// that failed, and leave no program of the pair running behind it.
#include "ProgramRun.h"

#include <gtest/gtest.h>

namespace {

struct PairCase {
    const char* name;
    const char* server;  // PAIR_PROBE_SERVER
    const char* client;  // PAIR_PROBE_CLIENT
    const char* extraArguments;
    DWORD expectedExit;
    const char* expectedText;
};

const PairCase pairCases[] = {
    {"both succeed", "ok", "ok", "", 0, "both succeeded"},
    {"server fails", "exit:3", "hang", "", 1,
     "FAILED: pair_probe_server.exe exited with code 3"},
    {"client fails", "ok", "exit:4", "", 1,
     "FAILED: pair_probe_client.exe exited with code 4"},
    {"client hangs", "ok", "hang", " --timeout-ms 1500", 1,
     "FAILED: pair_probe_client.exe did not finish within 1500 ms"},
    {"both hang", "hang", "hang", " --timeout-ms 1000", 1, "did not finish within 1000 ms"},
};

TEST(RunPair, ExitCodeAndReasonFollowTheChildren) {
    for (const PairCase& row : pairCases) {
        SCOPED_TRACE(row.name);
        ProgramResult run = RunProgram(
            std::string("run_pair.exe pair_probe_server.exe pair_probe_client.exe") +
                row.extraArguments,
            {std::string("PAIR_PROBE_SERVER=") + row.server,
             std::string("PAIR_PROBE_CLIENT=") + row.client},
            20000);
        ASSERT_TRUE(run.finished) << run.output;
        EXPECT_EQ(row.expectedExit, run.exitCode) << run.output;
        EXPECT_NE(std::string::npos, run.output.find(row.expectedText)) << run.output;
        EXPECT_FALSE(ProcessRunning("pair_probe_server.exe")) << "left behind";
        EXPECT_FALSE(ProcessRunning("pair_probe_client.exe")) << "left behind";
    }
}

TEST(RunPair, BadCommandLinesAreRefused) {
    struct {
        const char* commandLine;
        const char* expectedText;
    } rows[] = {
        {"run_pair.exe pair_probe_server.exe", "usage: run_pair"},
        {"run_pair.exe no_such_server.exe pair_probe_client.exe", "cannot start no_such_server.exe"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.commandLine);
        ProgramResult run = RunProgram(row.commandLine, {}, 20000);
        ASSERT_TRUE(run.finished) << run.output;
        EXPECT_EQ(1u, run.exitCode) << run.output;
        EXPECT_NE(std::string::npos, run.output.find(row.expectedText)) << run.output;
    }
}

}  // namespace
