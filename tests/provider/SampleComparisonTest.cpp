// The layer never changes what an application sees: every sample program ends the same way
// through the Winsock layer without the Kestrix layer, with it installed, and with it installed
// and traced by a viewer.
#include <gtest/gtest.h>
#include <regex>
#include <string>
#include "ViewerStandIn.h"

static const char* const LayerId = "{F388AA6E-39C9-4C31-9AF1-41866B21EF03}";

struct Outcome {
    DWORD exitCode = 0xdeadbeef;
    std::string failure;   // the FAILED line, addresses and ports masked; empty when none
    bool operator==(const Outcome& other) const
    {
        return exitCode == other.exitCode && failure == other.failure;
    }
};

static std::ostream& operator<<(std::ostream& stream, const Outcome& outcome)
{
    return stream << "exit " << outcome.exitCode << " [" << outcome.failure << "]";
}

// Runs a command line with its output going to a file, for at most a minute.
static Outcome RunProgram(std::string commandLine)
{
    Outcome outcome;
    char path[MAX_PATH];
    GetTempFileNameA(".", "out", 0, path);
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY, nullptr);
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = startup.hStdError = file;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION process;
    if (file != INVALID_HANDLE_VALUE &&
        CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                       &startup, &process)) {
        if (WaitForSingleObject(process.hProcess, 60000) != WAIT_OBJECT_0)
            TerminateProcess(process.hProcess, 0xdead);
        WaitForSingleObject(process.hProcess, 5000);
        GetExitCodeProcess(process.hProcess, &outcome.exitCode);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    std::string output;
    char buffer[4096];
    DWORD got;
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    while (ReadFile(file, buffer, sizeof(buffer), &got, nullptr) && got)
        output.append(buffer, got);
    CloseHandle(file);
    DeleteFileA(path);
    size_t failed = output.find("FAILED");
    if (failed != std::string::npos) {
        std::string line = output.substr(failed, output.find('\n', failed) - failed);
        outcome.failure = std::regex_replace(
            line, std::regex("[0-9.]+:[0-9]+|\\[[0-9a-f:]*\\]:[0-9]+"), "ADDRESS");
    }
    return outcome;
}

static bool Catalog(const std::string& arguments)
{
    return RunProgram("wscatalog.exe " + arguments).exitCode == 0;
}

TEST(SampleComparisonTest, EverySampleEndsTheSameWithAndWithoutTheLayer)
{
    const char* samples[] = {
        "tcp_blocking.exe", "udp.exe", "ipv6.exe", "nonblocking.exe", "sockopts.exe",
        "overlapped.exe", "event_select.exe", "async_select.exe", "acceptex.exe",
        "transmitfile.exe", "wsarecvmsg.exe", "wsa_variants.exe", "poll_sendmsg.exe",
        "iocp_server.exe", "run_pair.exe http_server.exe http_client.exe",
    };
    char layerPath[MAX_PATH];
    GetFullPathNameA("kestrixlayer.dll", MAX_PATH, layerPath, nullptr);
    Catalog(std::string("remove ") + LayerId);   // left over from an interrupted run
    std::vector<Outcome> without;
    for (const char* sample : samples)
        without.push_back(RunProgram(sample));
    ASSERT_TRUE(Catalog(std::string("install ") + layerPath + " " + LayerId + " Kestrix"));
    for (size_t i = 0; i < std::size(samples); i++) {
        SCOPED_TRACE(samples[i]);
        EXPECT_EQ(without[i], RunProgram(samples[i])) << "untraced";
        for (DWORD level : {Low, Medium, High}) {
            ViewerStandIn viewer;
            ASSERT_TRUE(viewer.Open(level, ViewerStandIn::Now()));
            EXPECT_EQ(without[i], RunProgram(samples[i])) << "traced at detail " << level;
            EXPECT_FALSE(viewer.Records().empty()) << "the traced run reached the viewer";
            viewer.Close();
        }
    }
    EXPECT_TRUE(Catalog(std::string("remove ") + LayerId));
}
