// The real layer under the Winsock layer for Wine, in the catalog, tracing sample programs into a
// stand-in viewer window in this process.
#include <gtest/gtest.h>
#include <algorithm>
#include <regex>
#include <set>
#include <string>
#include "ViewerStandIn.h"

// How long a traced program may take. It bounds a hang, not speed: a hundred thousand sockets
// traced take about a minute here, each socket handle being an open of the handle driver.
const DWORD ChildPatience = 240000;

struct Child {
    PROCESS_INFORMATION process = {};
    bool Run(std::string commandLine, DWORD* exitCode)
    {
        STARTUPINFOA startup = {};
        startup.cb = sizeof(startup);
        if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                            nullptr, &startup, &process))
            return false;
        bool ended = WaitForSingleObject(process.hProcess, ChildPatience) == WAIT_OBJECT_0;
        GetExitCodeProcess(process.hProcess, exitCode);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        return ended;
    }
};

static std::string Describe(const std::vector<Record>& records)
{
    std::string text;
    for (const Record& record : records)
        text += std::to_string(record.Kind()) + " " + record.Text() + "\n";
    return text;
}

class EndToEndTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(viewer.Open(Medium, ViewerStandIn::Now())); }
    // Runs the program, waits for its goodbye and returns its records.
    std::vector<Record> Trace(const std::string& commandLine, DWORD expectedExit = 0)
    {
        Child child;
        DWORD exitCode = 0xdeadbeef;
        EXPECT_TRUE(child.Run(commandLine, &exitCode)) << commandLine;
        EXPECT_EQ(expectedExit, exitCode) << commandLine;
        EXPECT_TRUE(viewer.WaitForDetach(child.process.dwProcessId, 10000))
            << "no goodbye from " << commandLine << ":\n" << Describe(viewer.Records());
        return viewer.Records();
    }
    ViewerStandIn viewer;
};

// Each record as "kind text", the sockets named by their order of creation and ports masked.
static std::vector<std::string> Generalized(const std::vector<Record>& records)
{
    std::vector<std::string> sockets;
    std::vector<std::string> lines;
    for (const Record& record : records) {
        if (record.Kind() == RecordSocketCreated)
            sockets.push_back(std::to_string(static_cast<long>(record.Word(1))));
        std::string text = record.Text();
        for (size_t i = 0; i < sockets.size(); i++) {
            std::string number = "(" + sockets[i] + ")";
            for (size_t at = text.find(number); at != std::string::npos; at = text.find(number))
                text.replace(at, number.size(), "(s" + std::to_string(i) + ")");
        }
        text = std::regex_replace(text, std::regex("127\\.0\\.0\\.1:[0-9]+"), "127.0.0.1:PORT");
        std::string kind = record.HasText() && record.PayloadLength() == 0
                               ? "-"
                               : std::to_string(record.Kind());
        lines.push_back(kind + " " + text);
    }
    return lines;
}

TEST_F(EndToEndTest, ProgramIsTracedFromAttachThroughEverySocketToDetach)
{
    auto records = Trace("socketlife.exe");
    // sockets: s0 sends a datagram to s1; s3 connects to the listener s2 and sends five bytes;
    // then the program closes client, listener, receiver, sender, in that order.
    const std::string udp = "[family=AF_INET, type=SOCK_DGRAM, protocol=IPPROTO_UDP, "
                            "dwFlags=WSA_FLAG_OVERLAPPED]";   // socket() asks for overlapped
    const std::string tcp = "[family=AF_INET, type=SOCK_STREAM, protocol=IPPROTO_TCP, "
                            "dwFlags=WSA_FLAG_OVERLAPPED]";
    const std::vector<std::string> expected = {
        "0 process attached, command line='socketlife.exe'",
        "1 socket (s0) created " + udp,
        "1 socket (s1) created " + udp,
        "- socket (s0) bound [name=127.0.0.1]",
        "- socket (s0) determined its local name [name=127.0.0.1:PORT]",
        "- socket (s1) bound [name=127.0.0.1]",
        "- socket (s1) determined its local name [name=127.0.0.1:PORT]",
        "- socket (s0) sending a datagram synchronously [len=5, to=127.0.0.1:PORT]",
        "3 socket (s0) sent a datagram that is 5 bytes",
        "- socket (s1) receiving a datagram synchronously from its default address [len=16]",
        "4 socket (s1) received a datagram that is 5 bytes",
        "1 socket (s2) created " + tcp,
        "1 socket (s3) created " + tcp,
        "- socket (s2) bound [name=127.0.0.1]",
        "- socket (s2) determined its local name [name=127.0.0.1:PORT]",
        "- socket (s2) established for listening [backlog=1]",
        "- socket (s3) connecting synchronously [name=127.0.0.1:PORT]",
        "- socket (s3) connected",
        "- socket (s3) sending data synchronously [len=5]",
        "3 socket (s3) sent 5 bytes of data",
        "2 socket (s3) closed; bytes received=0, bytes sent=5",
        "2 socket (s2) closed",   // a socket that listened shows no byte counts
        "2 socket (s1) closed; bytes received=5, bytes sent=0",
        "2 socket (s0) closed; bytes received=0, bytes sent=5",
        "5 process detached",
    };
    EXPECT_EQ(expected, Generalized(records)) << Describe(records);
    for (const Record& record : records) {
        if (record.Kind() == RecordDataSent || record.Kind() == RecordDataReceived) {
            EXPECT_EQ(12u, record.PayloadLength()) << "no bytes below High: " << record.Text();
        }
    }
}

TEST_F(EndToEndTest, ExitWithTwoOpenSocketsClosesBothBeforeTheGoodbye)
{
    auto records = Trace("opensockets.exe");
    ASSERT_EQ(6u, records.size()) << Describe(records);
    EXPECT_EQ(RecordSocketCreated, records[1].Kind());
    EXPECT_EQ(RecordSocketCreated, records[2].Kind());
    for (int i : {3, 4}) {
        EXPECT_EQ(RecordSocketClosed, records[i].Kind());
        EXPECT_EQ(0u, records[i].Text().find("detaching from process, socket ("))
            << records[i].Text();
        EXPECT_NE(std::string::npos, records[i].Text().find("closed; bytes received=0, bytes sent=0"));
    }
    std::set<DWORD> created = {records[1].Word(1), records[2].Word(1)};
    std::set<DWORD> closed = {records[3].Word(1), records[4].Word(1)};
    EXPECT_EQ(created, closed);
    EXPECT_EQ("process detached", records[5].Text());
}

TEST_F(EndToEndTest, CloseWithPendingReceivesIsFinishedByTheirCompletion)
{
    // s0 listens, s1 connects, s2 is accepted and closed with two receives pending. The close
    // aborts them (WSA_OPERATION_ABORTED, 995, which has no text of its own).
    auto records = Trace("pendingclose.exe");
    const std::string aborted = "- socket (s2) could not receive data - 995 (?""?""?)";
    const std::vector<std::string> expected = {
        "- socket (s2) receiving data asynchronously [len=16]",
        "- socket (s2) receiving data asynchronously [len=16]",
        "- socket (s2) will be closed when outstanding asynchronous calls finish",
        aborted,
        aborted,
        "2 async calls finished, socket (s2) closed; bytes received=0, bytes sent=0",
    };
    std::vector<std::string> got;
    for (const std::string& line : Generalized(records)) {
        if (line.find("socket (s2)") != std::string::npos && line.find("socket (s0)") == std::string::npos)
            got.push_back(line);
    }
    EXPECT_EQ(expected, got) << Describe(records);
}

TEST_F(EndToEndTest, LastCleanupWithCallsBlockedEndsThemAndTheProgram)
{
    // Traced: the blocked receive's socket is closed by the teardown, then the call reports.
    auto records = Trace("cleanupinflight.exe");
    std::vector<std::string> lines = Generalized(records);
    EXPECT_NE(lines.end(), std::find(lines.begin(), lines.end(),
                                     "2 detaching from process, socket (s3) closed; bytes "
                                     "received=0, bytes sent=0"))
        << Describe(records);
    EXPECT_EQ("5 process detached", lines.back());
    // Untraced, with the layer installed all the same.
    viewer.Close();
    Child child;
    DWORD exitCode = 0xdeadbeef;
    EXPECT_TRUE(child.Run("cleanupinflight.exe", &exitCode));
    EXPECT_EQ(0u, exitCode);
}

TEST_F(EndToEndTest, ManyThreadsAtHighNeitherCrashNorHangAndEveryByteIsCounted)
{
    viewer.Close();
    ASSERT_TRUE(viewer.Open(High, ViewerStandIn::Now()));
    const int threads = 4, rounds = 200, bytesPerRound = 2000;   // stresstraffic's own figures
    auto records = Trace("stresstraffic.exe " + std::to_string(rounds));
    unsigned long long sent = 0, received = 0;
    int created = 0, closed = 0;
    for (const Record& record : records) {
        DWORD kind = record.Kind();
        created += kind == RecordSocketCreated;
        closed += kind == RecordSocketClosed;
        if (kind != RecordDataSent && kind != RecordDataReceived)
            continue;
        (kind == RecordDataSent ? sent : received) += record.Word(2);
        ASSERT_EQ(12 + record.Word(2), record.PayloadLength()) << "the bytes themselves at High";
        const BYTE* data = record.bytes.data() + 4 + 12;
        for (DWORD i = 0; i < record.Word(2); i++)
            ASSERT_EQ('k', data[i]) << record.Text();
    }
    EXPECT_EQ(static_cast<unsigned long long>(threads) * rounds * bytesPerRound, sent);
    EXPECT_EQ(sent, received);
    EXPECT_EQ(created, closed) << "every socket created is reported closed";
}

TEST_F(EndToEndTest, HundredThousandSocketsLeaveNoHandleOrMemoryBehind)
{
    viewer.Close();
    ASSERT_TRUE(viewer.Open(Low, ViewerStandIn::Now()));
    const int count = 100000;
    auto records = Trace("manysockets.exe " + std::to_string(count));   // exit 0: all came back
    int created = 0, closed = 0;
    for (const Record& record : records) {
        created += record.Kind() == RecordSocketCreated;
        closed += record.Kind() == RecordSocketClosed;
    }
    EXPECT_EQ(count + 1000, created);
    EXPECT_EQ(created, closed);
}

TEST_F(EndToEndTest, WindowProcedureMakingSocketCallsDuringARecordNeitherDeadlocksNorCorrupts)
{
    // While the record of the program's first close is handled, its window procedure closes
    // that socket again, closes another, and makes and closes a third.
    volatile LONG sent = 0;
    viewer.SetRecordHook([&](const Record& record) {
        if (record.Kind() != RecordSocketClosed || InterlockedExchange(&sent, 1))
            return;
        HWND probe = FindWindowExA(HWND_MESSAGE, nullptr, "KestrixReentryProbe", nullptr);
        DWORD_PTR answer = 0;
        SendMessageTimeoutA(probe, WM_APP + 1, 0, 0, SMTO_NORMAL, 10000, &answer);
    });
    auto records = Trace("reentryprobe.exe");   // exit 0: every call answered as without the layer
    viewer.SetRecordHook(nullptr);
    std::vector<std::string> lines = Generalized(records);
    // The stand-in keeps a record once its hook has run, so the first close comes last.
    const std::string flags = ", dwFlags=WSA_FLAG_OVERLAPPED]";
    const std::vector<std::string> expected = {
        "0 process attached, command line='reentryprobe.exe'",
        "1 socket (s0) created [family=AF_INET, type=SOCK_STREAM, protocol=IPPROTO_TCP" + flags,
        "1 socket (s1) created [family=AF_INET, type=SOCK_DGRAM, protocol=IPPROTO_UDP" + flags,
        "1 socket (s2) created [family=AF_INET, type=SOCK_STREAM, protocol=IPPROTO_TCP" + flags,
        "- socket (s0) could not be closed - WSAENOTSOCK (An operation was attempted on something "
        "that is not a socket)",
        "2 socket (s1) closed; bytes received=0, bytes sent=0",
        "2 socket (s2) closed; bytes received=0, bytes sent=0",
        "2 socket (s0) closed; bytes received=0, bytes sent=0",
        "5 process detached",
    };
    EXPECT_EQ(expected, lines) << Describe(records);
}

TEST_F(EndToEndTest, AHandleTableThatCannotGrowFailsTheSocketNotTheProgram)
{
    SetEnvironmentVariableA("WS2LAYER_TABLE_FULL", "1");
    auto records = Trace("tablefull.exe");   // exit 0: socket() failed with WSAENOBUFS
    SetEnvironmentVariableA("WS2LAYER_TABLE_FULL", nullptr);
    std::vector<std::string> lines = Generalized(records);
    ASSERT_EQ(3u, lines.size()) << Describe(records);
    EXPECT_EQ(0u, lines[1].find("- a socket could not be created [family=AF_INET, type=SOCK_STREAM, "
                                "protocol=IPPROTO_TCP, dwFlags=WSA_FLAG_OVERLAPPED] - WSAENOBUFS"))
        << lines[1];
}

TEST_F(EndToEndTest, ASocketDuplicatedIntoAnotherProcessCarriesTheConnection)
{
    auto records = Trace("duplicateacross.exe");   // exit 0: the other process's bytes arrived
    std::vector<std::string> lines = Generalized(records);
    EXPECT_NE(lines.end(), std::find(lines.begin(), lines.end(),
                                     "2 socket (s2) closed; bytes received=0, bytes sent=0"))
        << "the original closes in this process while its duplicate lives on\n"
        << Describe(records);
}

TEST_F(EndToEndTest, SocketsLeftToTheirEntryOrRecordComeOutAsWithoutTheLayer)
{
    auto records = Trace("socketrequests.exe");   // exit 0: every answer as expected
    std::vector<std::string> lines = Generalized(records);
    EXPECT_EQ(lines.end(), std::find_if(lines.begin(), lines.end(), [](const std::string& line) {
                  return line.find("could not be created") != std::string::npos;
              })) << Describe(records);
}
