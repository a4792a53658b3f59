// Sends and receives of the sample programs traced by the real viewer at each detail level: the
// lines of the log file, the byte totals against what the samples moved, and data shown as text
// lines or hex dumps.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "TraceHistories.h"
#include "ViewerSession.h"

namespace {

const char LogFileName[] = "e2e-data.log";

struct TracedRun {
    DWORD exitCode = 0xdeadbeef;
    std::vector<std::vector<std::string>> histories;   // see Histories
    std::string totals;               // bytes received and sent, as the labels show them
};

std::string Describe(const std::vector<History>& histories)
{
    std::string text;
    for (const History& history : histories)
        text += Joined(history) + "--\n";
    return text;
}

// What Low and Medium keep of the histories at a higher level: no data lines below High, and
// no data call texts at Low.
std::vector<History> AsAt(const std::vector<History>& histories, DWORD detail)
{
    static const std::regex dataCall("^socket \\(N\\) (sending|sent|receiving|received|did not receive|"
                                     "could not (send|receive))");
    static const std::string incomplete = " (Incomplete last line)";
    std::vector<History> result;
    for (const History& history : histories) {
        History kept;
        for (std::string line : history) {
            if (line.rfind("socket (N)", 0) != 0 || (detail == 0 && std::regex_search(line, dataCall)))
                continue;
            if (line.size() > incomplete.size() &&
                line.compare(line.size() - incomplete.size(), incomplete.size(), incomplete) == 0)
                line.erase(line.size() - incomplete.size());
            kept.push_back(line);
        }
        if (!kept.empty())
            result.push_back(kept);
    }
    std::sort(result.begin(), result.end());
    return result;
}

TracedRun TraceSample(const std::string& commandLine, DWORD detail)
{
    TracedRun run;
    Viewer viewer(LogFileName, detail);
    EXPECT_TRUE(viewer.Ready());
    if (!viewer.Ready() || !viewer.Start())
        return run;
    run.exitCode = RunToEnd(commandLine);
    EXPECT_TRUE(viewer.LogShows(WaitingLine, 2)) << viewer.Log();
    run.totals = viewer.Totals();
    EXPECT_TRUE(viewer.Stop());
    run.histories = Histories(SplitLines(viewer.LogFile()));
    return run;
}

const char Tcp[] = "[family=AF_INET, type=SOCK_STREAM, protocol=IPPROTO_TCP, dwFlags=WSA_FLAG_OVERLAPPED]";
const char AnyStream[] = "[family=AF_INET, type=SOCK_STREAM, protocol=IPPROTO_IP, dwFlags=WSA_FLAG_OVERLAPPED]";
const char AnyDatagram[] = "[family=AF_INET, type=SOCK_DGRAM, protocol=IPPROTO_IP, dwFlags=WSA_FLAG_OVERLAPPED]";
const char Fox[] = "the quick brown fox jumps over the lazy dog";

struct SampleCase {
    const char* commandLine;
    std::string totals;                // what the sample moved: received, then sent
    std::vector<History> atHigh;       // every socket's lines at High
};

std::string S(const std::string& text)
{
    return "socket (N) " + text;
}

// The samples as they run: each history is one socket's, in the order of its own calls.
std::vector<SampleCase> Samples()
{
    const std::string closedEmpty = S("closed; bytes received=0, bytes sent=0");
    const std::string listenerClosed = S("closed");   // a socket that listened has no counts
    const std::string tooBig =
        S("could not receive a datagram - WSAEMSGSIZE (A message sent on a datagram socket was "
          "larger than the internal message buffer or some other network limit, or the buffer used "
          "to receive a datagram into was smaller than the datagram itself)");
    return {
        // A client sends 43 bytes to an accepted socket, which echoes them; then a connect is
        // refused. Received 43 + 43, sent 43 + 43.
        {"tcp_blocking.exe", "86 86",
         {
             {S("created ") + Tcp, S("accepting a connection synchronously"),
              S("accepted a connection on new socket (M)"), listenerClosed},
             {S("created ") + Tcp, S("sending data synchronously [len=43]"),
              S("sent 43 bytes of data (Incomplete last line)"), Fox,
              S("receiving data synchronously [len=256]"),
              S("received 43 bytes of data (Incomplete last line)"), Fox,
              S("receiving data synchronously [len=213]"),
              S("did not receive any data, closed gracefully by peer"),
              S("closed; bytes received=43, bytes sent=43")},
             {S("receiving data synchronously [len=256]"),
              S("received 43 bytes of data (Incomplete last line)"), Fox,
              S("receiving data synchronously [len=213]"),
              S("did not receive any data, closed gracefully by peer"),
              S("sending data synchronously [len=43]"),
              S("sent 43 bytes of data (Incomplete last line)"), Fox,
              S("closed; bytes received=43, bytes sent=43")},
             {S("created ") + AnyStream, closedEmpty},
             {S("created ") + Tcp, closedEmpty},
         }},
        // Datagrams of 37, 21, 40, 200, 40 and 200 bytes; the two of 200 bytes are received into
        // 64 and fail with WSAEMSGSIZE, so 138 are received and 538 sent.
        {"udp.exe", "138 538",
         {
             {S("created ") + AnyDatagram,
              S("sending a datagram synchronously [len=37, to=127.0.0.1:PORT]"),
              S("sent a datagram that is 37 bytes (Incomplete last line)"),
              "first datagram, addressed with sendto",
              S("sending a datagram synchronously [len=21, to=127.0.0.1:PORT]"),
              S("sent a datagram that is 21 bytes (Incomplete last line)"), "gathered by WSASendTo",
              S("sending a datagram synchronously to its default address [len=40]"),
              S("sent a datagram that is 40 bytes (Incomplete last line)"),
              "second datagram, over a connected socket",
              S("sending a datagram synchronously to its default address [len=200]"),
              S("sent a datagram that is 200 bytes"), "*hex",
              S("sending a datagram synchronously to its default address [len=40]"),
              S("sent a datagram that is 40 bytes (Incomplete last line)"),
              "second datagram, over a connected socket",
              S("sending a datagram synchronously to its default address [len=200]"),
              S("sent a datagram that is 200 bytes"), "*hex",
              S("closed; bytes received=0, bytes sent=538")},
             {S("created ") + AnyDatagram, S("receiving a datagram synchronously [len=128]"),
              S("received a datagram that is 37 bytes [from=127.0.0.1:PORT] (Incomplete last line)"),
              "first datagram, addressed with sendto",
              S("receiving a datagram synchronously [len=64]"),
              S("received a datagram that is 21 bytes [from=127.0.0.1:PORT] (Incomplete last line)"),
              "gathered by WSASendTo",
              S("receiving a datagram synchronously from its default address [len=128]"),
              S("received a datagram that is 40 bytes (Incomplete last line)"),
              "second datagram, over a connected socket",
              S("receiving a datagram synchronously from its default address [len=64]"),
              tooBig,
              S("receiving a datagram synchronously from its default address [len=128]"),
              S("received a datagram that is 40 bytes (Incomplete last line)"),
              "second datagram, over a connected socket",
              S("receiving a datagram synchronously from its default address [len=64]"),
              tooBig,
              S("closed; bytes received=138, bytes sent=0")},
         }},
        // 22 bytes completed through events, 7 through completion routines, then a datagram of
        // 24 through an overlapped WSARecvFrom.
        {"overlapped.exe", "53 53",
         {
             {S("created ") + AnyStream, S("accepting a connection synchronously"),
              S("accepted a connection on new socket (M)"), listenerClosed},
             {S("created ") + Tcp, S("sending data asynchronously [len=22]"),
              S("sent 22 bytes of data (Incomplete last line)"), "overlapped with events",
              S("sending data asynchronously [len=7]"),
              S("sent 7 bytes of data (Incomplete last line)"), "routine",
              S("closed; bytes received=0, bytes sent=29")},
             {S("receiving data asynchronously [len=22]"),
              S("received 22 bytes of data (Incomplete last line)"), "overlapped with events",
              S("receiving data asynchronously [len=32]"),
              S("received 7 bytes of data (Incomplete last line)"), "routine",
              S("closed; bytes received=29, bytes sent=0")},
             {S("created ") + AnyDatagram, S("receiving a datagram asynchronously [len=64]"),
              S("received a datagram that is 24 bytes [from=127.0.0.1:PORT] (Incomplete last line)"),
              "datagram for WSARecvFrom",
              S("closed; bytes received=24, bytes sent=0")},
             {S("created ") + AnyDatagram,
              S("sending a datagram synchronously [len=24, to=127.0.0.1:PORT]"),
              S("sent a datagram that is 24 bytes (Incomplete last line)"),
              "datagram for WSARecvFrom", S("closed; bytes received=0, bytes sent=24")},
         }},
    };
}

// Hex rows vary with nothing but their bytes; "*hex" stands for a run of them.
std::vector<History> WithHexRowsFolded(std::vector<History> histories)
{
    static const std::regex hexRow("^[0-9A-F]{4,}  ");
    for (History& history : histories) {
        History folded;
        for (const std::string& line : history) {
            bool row = std::regex_search(line, hexRow);
            if (row && !folded.empty() && folded.back() == "*hex")
                continue;
            folded.push_back(row ? "*hex" : line);
        }
        history = folded;
    }
    std::sort(histories.begin(), histories.end());
    return histories;
}

}  // namespace

TEST(DataTrace, SamplesAtEachLevelWithTheirLinesAndTotals)
{
    for (SampleCase& sample : Samples()) {
        std::sort(sample.atHigh.begin(), sample.atHigh.end());
        for (DWORD detail : {0u, 1u, 2u}) {
            SCOPED_TRACE(std::string(sample.commandLine) + " at detail " + std::to_string(detail));
            TracedRun run = TraceSample(sample.commandLine, detail);
            EXPECT_EQ(0u, run.exitCode) << "the sample passes traced";
            EXPECT_EQ(sample.totals, run.totals) << "the viewer's totals are the bytes moved";
            std::vector<History> expected =
                detail == 2 ? sample.atHigh : AsAt(sample.atHigh, detail);
            std::vector<History> got = detail == 2 ? WithHexRowsFolded(run.histories) : run.histories;
            EXPECT_EQ(Describe(expected), Describe(got));
        }
    }
}

TEST(DataTrace, HttpRequestAsTextLinesAndBinaryBodyAsHexDump)
{
    TracedRun run = TraceSample("run_pair.exe http_server.exe http_client.exe", 2);
    ASSERT_EQ(0u, run.exitCode);
    // The server is traced: the client, a second process, is told to stop at its first record.
    EXPECT_EQ("204 598", run.totals);
    const History* served = nullptr;
    for (const History& history : run.histories)
        if (!history.empty() && history[0] == S("receiving data synchronously [len=1024]") &&
            std::find(history.begin(), history.end(), S("sent 447 bytes of data")) != history.end())
            served = &history;
    ASSERT_NE(nullptr, served) << Describe(run.histories);
    const History expectedHead = {
        S("receiving data synchronously [len=1024]"),
        S("received 104 bytes of data"),
        "GET /kestrix.bin HTTP/1.0",
        "Host: 127.0.0.1:PORT",
        "User-Agent: kestrix-sample-client/1.0",
        "Accept: */*",
        "",
        S("sending data synchronously [len=447]"),
        S("sent 447 bytes of data"),
        "HTTP/1.0 200 OK",
        "Server: kestrix-sample-server/1.0",
        "Content-Type: application/octet-stream",
        "Content-Length: 313",
        "Connection: close",
        "",
        "0086  00 01 02 03 04 05 06 07  08 09 0A 0B 0C 0D 0E 0F  ................",
    };
    ASSERT_GE(served->size(), expectedHead.size());
    History head(served->begin(), served->begin() + expectedHead.size());
    head[3] = std::regex_replace(head[3], std::regex(":[0-9]+$"), ":PORT");
    EXPECT_EQ(Joined(expectedHead), Joined(head));
    EXPECT_EQ("01B6  63 75 6D 65 6E 74 2E 0D  0A                       cument...       ",
              (*served)[expectedHead.size() + 18]) << "the body's last row, 20 rows in all";
}
