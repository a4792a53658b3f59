// The extension functions traced by the real viewer: an AcceptEx that takes the first bytes with
// the connection, and an overlapped TransmitFile, as the log file shows them. Only the lines of
// these two calls are compared: the other calls of the samples have tests of their own.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "ViewerSession.h"

namespace {

const char LogFileName[] = "e2e-extensions.log";

struct TracedRun {
    DWORD exitCode = 0xdeadbeef;
    std::vector<std::string> lines;   // the log file's
    std::string totals;
};

TracedRun TraceSample(const std::string& commandLine, DWORD detail)
{
    TracedRun run;
    Viewer viewer(LogFileName, detail);
    EXPECT_TRUE(viewer.Ready());
    if (!viewer.Ready() || !viewer.Start())
        return run;
    run.exitCode = RunToEnd(commandLine);
    // The file's hex dump may push the first lines out of the log buffer, so the end of the
    // process, not a count of waiting lines, tells that its records are in.
    EXPECT_TRUE(viewer.LogShows("process detached")) << viewer.Log();
    run.totals = viewer.Totals();
    EXPECT_TRUE(viewer.Stop());
    run.lines = SplitLines(viewer.LogFile());
    return run;
}

// The line matching pattern and the count lines after it that are not option lines, socket
// numbers written as N and ports as PORT; empty when no line matches.
std::vector<std::string> LinesFrom(const std::vector<std::string>& lines, const std::string& pattern,
                                   size_t count)
{
    static const std::regex socketNumber("\\(-?[0-9]+\\)");
    static const std::regex port("127\\.0\\.0\\.1:[0-9]+");
    std::vector<std::string> found;
    for (size_t i = 0; i < lines.size(); i++) {
        if (!std::regex_search(lines[i], std::regex(pattern)))
            continue;
        // Another thread's sockets may set their options or end connecting in between: the
        // connecting side's ConnectEx is reported by its own thread when it completes at once.
        static const std::regex option(
            "^socket \\(-?[0-9]+\\) ((could not )?set one of its options|connected$)");
        for (size_t j = i; j < lines.size() && found.size() <= count; j++)
            if (!std::regex_search(lines[j], option))
                found.push_back(std::regex_replace(
                    std::regex_replace(lines[j], socketNumber, "(N)"), port, "127.0.0.1:PORT"));
        break;
    }
    return found;
}

}  // namespace

TEST(ExtensionTrace, AcceptExWithFirstBytesAndOverlappedTransmitFileInTheLogFile)
{
    {
        SCOPED_TRACE("acceptex");
        TracedRun run = TraceSample("acceptex.exe", 2);
        EXPECT_EQ(0u, run.exitCode) << "the sample passes traced";
        EXPECT_EQ((std::vector<std::string>{
                      "socket (N) accepted a connection on existing socket (N) [addr=127.0.0.1:PORT]",
                      "socket (N) received 30 bytes of data (Incomplete last line)",
                      "first bytes, sent by ConnectEx",
                  }),
                  LinesFrom(run.lines, "accepted a connection on existing socket", 2))
            << Joined(run.lines);
    }
    {
        SCOPED_TRACE("transmitfile");
        TracedRun run = TraceSample("transmitfile.exe", 2);
        EXPECT_EQ(0u, run.exitCode) << "the sample passes traced";
        // One counter record: its line, with no data lines of its own after it.
        std::vector<std::string> transmitted =
            LinesFrom(run.lines, "transmitted [0-9]+ bytes of file data", 1);
        ASSERT_EQ(2u, transmitted.size()) << Joined(run.lines);
        EXPECT_EQ("socket (N) transmitted 10010 bytes of file data", transmitted[0]);
        EXPECT_EQ(0u, transmitted[1].rfind("socket (N) ", 0)) << transmitted[1];
        EXPECT_EQ("10,010 10,010", run.totals) << "the viewer counts the file's bytes as sent";
    }
}
