// The real layer under the Winsock layer for Wine, in the catalog, tracing sample programs into a
// stand-in viewer window in this process.
#include <gtest/gtest.h>
#include <set>
#include <string>
#include "ViewerStandIn.h"

struct Child {
    PROCESS_INFORMATION process = {};
    bool Run(std::string commandLine, DWORD* exitCode)
    {
        STARTUPINFOA startup = {};
        startup.cb = sizeof(startup);
        if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                            nullptr, &startup, &process))
            return false;
        bool ended = WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0;
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

TEST_F(EndToEndTest, ProgramIsTracedFromAttachThroughEverySocketToDetach)
{
    auto records = Trace("socketlife.exe");
    ASSERT_EQ(10u, records.size()) << Describe(records);
    EXPECT_EQ(RecordProcessAttached, records.front().Kind());
    EXPECT_EQ("process attached, command line='socketlife.exe'", records.front().Text());
    const char* created[] = {"type=SOCK_DGRAM, protocol=IPPROTO_UDP",
                             "type=SOCK_DGRAM, protocol=IPPROTO_UDP",
                             "type=SOCK_STREAM, protocol=IPPROTO_TCP",
                             "type=SOCK_STREAM, protocol=IPPROTO_TCP"};
    DWORD sockets[4];
    for (int i = 0; i < 4; i++) {
        const Record& record = records[1 + i];
        EXPECT_EQ(RecordSocketCreated, record.Kind()) << record.Text();
        sockets[i] = record.Word(1);
        std::string expected = "socket (" + std::to_string(static_cast<long>(sockets[i])) +
                               ") created [family=AF_INET, " + created[i] +
                               ", dwFlags=WSA_FLAG_OVERLAPPED]";   // socket() asks for overlapped
        EXPECT_EQ(expected, record.Text());
    }
    // Closed in the program's order: client, listener, receiver, sender.
    const int closeOrder[] = {3, 2, 1, 0};
    for (int i = 0; i < 4; i++) {
        const Record& record = records[5 + i];
        EXPECT_EQ(RecordSocketClosed, record.Kind()) << record.Text();
        EXPECT_EQ(sockets[closeOrder[i]], record.Word(1)) << record.Text();
    }
    EXPECT_EQ("socket (" + std::to_string(static_cast<long>(sockets[3])) +
                  ") closed; bytes received=0, bytes sent=5",
              records[5].Text());
    EXPECT_EQ("socket (" + std::to_string(static_cast<long>(sockets[1])) +
                  ") closed; bytes received=5, bytes sent=0",
              records[7].Text());
    EXPECT_EQ(RecordProcessDetached, records.back().Kind());
    EXPECT_EQ("process detached", records.back().Text());
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
