// Connection and control calls traced by the real viewer: a blocking connect and accept with the
// addresses of both ends in the log file, a message-driven program whose notifications pass the
// layer, and the option and mode lines of the samples that set them.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "ViewerSession.h"

namespace {

const char LogFileName[] = "e2e-connection.log";

struct Trace {
    DWORD exitCode = 0xdeadbeef;
    std::string counts;
    std::vector<std::string> lines;   // the traced process's lines
};

Trace TraceProgram(const std::string& commandLine, DWORD detail)
{
    Trace trace;
    Viewer viewer(LogFileName, detail);
    EXPECT_TRUE(viewer.Ready());
    if (!viewer.Ready() || !viewer.Start())
        return trace;
    trace.exitCode = RunToEnd(commandLine);
    EXPECT_TRUE(viewer.LogShows(WaitingLine, 2)) << viewer.Log();
    trace.counts = viewer.Counts();
    EXPECT_TRUE(viewer.Stop());
    bool inside = false;
    for (const std::string& line : SplitLines(viewer.LogFile())) {
        inside = inside || line.rfind("process attached", 0) == 0;
        if (inside)
            trace.lines.push_back(line);
        if (line.rfind("process detached", 0) == 0)
            break;
    }
    return trace;
}

// The first capture of pattern in the lines, or "" when no line matches.
std::string Find(const std::vector<std::string>& lines, const std::string& pattern)
{
    std::regex expression(pattern);
    std::smatch match;
    for (const std::string& line : lines)
        if (std::regex_search(line, match, expression))
            return match.size() > 1 ? match[1].str() : match[0].str();
    return "";
}

bool Has(const std::vector<std::string>& lines, const std::string& line)
{
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

}  // namespace

TEST(ConnectionTrace, BlockingConnectAndAcceptShowTheAddressesOfBothEnds)
{
    // Connection texts do not depend on the detail level.
    Trace trace = TraceProgram("connectpair.exe", 0);
    ASSERT_EQ(0u, trace.exitCode);
    std::string l = Find(trace.lines, "socket \\(([0-9]+)\\) established for listening \\[backlog=4\\]");
    ASSERT_NE("", l) << Joined(trace.lines);
    std::string listenerPort =
        Find(trace.lines, "socket \\(" + l + "\\) determined its local name \\[name=127\\.0\\.0\\.1:([0-9]+)\\]");
    std::string c = Find(trace.lines, "socket \\(([0-9]+)\\) connecting synchronously \\[name=127\\.0\\.0\\.1:" +
                                          listenerPort + "\\]");
    ASSERT_NE("", c) << "the connect names the listener's address\n" << Joined(trace.lines);
    std::string clientPort =
        Find(trace.lines, "socket \\(" + c + "\\) determined its local name \\[name=127\\.0\\.0\\.1:([0-9]+)\\]");
    ASSERT_NE("", clientPort) << Joined(trace.lines);
    std::string s = Find(trace.lines, "socket \\(" + l + "\\) accepted a connection on new socket \\(([0-9]+)\\) "
                                      "\\[addr=127\\.0\\.0\\.1:" + clientPort + "\\]");
    ASSERT_NE("", s) << "the accept names the client's address\n" << Joined(trace.lines);

    EXPECT_TRUE(Has(trace.lines, "socket (" + l + ") bound [name=127.0.0.1]"));
    EXPECT_TRUE(Has(trace.lines, "socket (" + c + ") connected"));
    EXPECT_TRUE(Has(trace.lines, "socket (" + l + ") accepting a connection synchronously"));
    EXPECT_TRUE(Has(trace.lines, "socket (" + c + ") determined its peer's name [name=127.0.0.1:" +
                                     listenerPort + "]"));
    EXPECT_TRUE(Has(trace.lines, "socket (" + l + ") closed")) << "a listener shows no byte counts";
    EXPECT_TRUE(Has(trace.lines, "socket (" + s + ") closed; bytes received=0, bytes sent=0"));
    EXPECT_EQ("3 3 0", trace.counts) << "the accepted socket is counted as created";
}

TEST(ConnectionTrace, MessageDrivenProgramRunsTracedAtEveryLevel)
{
    for (DWORD detail : {0u, 1u, 2u}) {
        SCOPED_TRACE(detail);
        Trace trace = TraceProgram("async_select.exe", detail);
        EXPECT_EQ(0u, trace.exitCode) << "every notification named the program's own socket";
        std::string c = Find(trace.lines, "socket \\(([0-9]+)\\) connecting asynchronously \\[name=");
        ASSERT_NE("", c) << Joined(trace.lines);
        EXPECT_EQ("", Find(trace.lines, "socket \\(" + c + "\\) (could not )?connect(ed)?$"))
            << "a connect that goes on in the background has no outcome line";
        EXPECT_NE("", Find(trace.lines, "requested message-based event notification and enabled "
                                        "its nonblocking mode \\[hWnd=[0-9A-F]+, wMsg=[0-9]+, "
                                        "lEvent=FD_ACCEPT\\]"));
        EXPECT_EQ("3 3 0", trace.counts);
    }
}

TEST(ConnectionTrace, OptionAndModeLinesOfTheSamples)
{
    Trace options = TraceProgram("sockopts.exe", 1);
    EXPECT_EQ(0u, options.exitCode);
    for (const std::string& pattern :
         {"set one of its options \\[level=SOL_SOCKET, optname=SO_LINGER, l_onoff=1, l_linger=7, "
          "optlen=4\\]$",
          "retrieved one of its options \\[level=SOL_SOCKET, optname=SO_RCVBUF, optval=32768, "
          "optlen=4\\]$",
          "could not retrieve one of its options \\[level=SOL_SOCKET, optname=SO_RCVBUF, "
          "optlen=1\\] - WSAEFAULT",
          "retrieved one of its options \\[level=SOL_SOCKET, optname=SO_PROTOCOL_INFO, optlen=372\\]$",
          "can receive 100 bytes atomically$",
          "does not have any OOB data waiting to be read$"})
        EXPECT_NE("", Find(options.lines, pattern)) << pattern << "\n" << Joined(options.lines);

    Trace modes = TraceProgram("nonblocking.exe", 1);
    EXPECT_EQ(0u, modes.exitCode);
    std::string c = Find(modes.lines, "socket \\(([0-9]+)\\) connecting synchronously without "
                                      "blocking");
    ASSERT_NE("", c) << Joined(modes.lines);
    EXPECT_TRUE(Has(modes.lines, "socket (" + c + ") enabled its nonblocking mode"));
    EXPECT_TRUE(Has(modes.lines, "socket (" + c + ") could not connect - WSAEWOULDBLOCK (A "
                                 "non-blocking socket operation could not be completed "
                                 "immediately)"));
    EXPECT_NE("", Find(modes.lines, "socket \\([0-9]+\\) disabled its nonblocking mode$"));
}
