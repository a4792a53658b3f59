// The real viewer, the drop-in Winsock layer and traced programs, each its own process: the
// viewer is clicked and read from outside as a person would use it.
#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "ViewerSession.h"

namespace {

// The lines about processes and socket life, socket numbers written as N.
std::vector<std::string> TraceLines(const std::string& text)
{
    static const std::regex socketNumber("socket \\(-?[0-9]+\\)");
    std::vector<std::string> lines;
    for (const std::string& line : SplitLines(text)) {
        std::string general = std::regex_replace(line, socketNumber, "socket (N)");
        if (general.rfind("process ", 0) == 0 || general.rfind("socket (N) created", 0) == 0 ||
            general.rfind("socket (N) closed", 0) == 0 || general == WaitingLine || general == EndedLine)
            lines.push_back(general);
    }
    return lines;
}

}  // namespace

TEST(Capture, TracedProgramIsLoggedCountedAndTheViewerWaitsAgain)
{
    std::string catalogBefore = CatalogSnapshot();
    {
        Viewer viewer;
        ASSERT_TRUE(viewer.Ready());
        EXPECT_EQ("Stopped", viewer.driver.StatusText(1));
        ASSERT_TRUE(viewer.Start()) << viewer.driver.StatusText(1) << "\n" << viewer.Log();
        EXPECT_GT(LayerEntries(), 1) << "Start puts the layer and its chains in the catalog";

        EXPECT_EQ(0u, RunToEnd("socketlife.exe"));
        ASSERT_TRUE(viewer.LogShows(WaitingLine, 2)) << viewer.Log();
        EXPECT_EQ("Started", viewer.driver.StatusText(1));
        EXPECT_EQ("4 4 0", viewer.Counts());

        const std::string created = "socket (N) created [family=AF_INET, ";
        const std::vector<std::string> expected = {
            WaitingLine,
            "process attached, command line='socketlife.exe'",
            created + "type=SOCK_DGRAM, protocol=IPPROTO_UDP, dwFlags=WSA_FLAG_OVERLAPPED]",
            created + "type=SOCK_DGRAM, protocol=IPPROTO_UDP, dwFlags=WSA_FLAG_OVERLAPPED]",
            created + "type=SOCK_STREAM, protocol=IPPROTO_TCP, dwFlags=WSA_FLAG_OVERLAPPED]",
            created + "type=SOCK_STREAM, protocol=IPPROTO_TCP, dwFlags=WSA_FLAG_OVERLAPPED]",
            "socket (N) closed; bytes received=0, bytes sent=5",
            "socket (N) closed",   // the listener
            "socket (N) closed; bytes received=5, bytes sent=0",
            "socket (N) closed; bytes received=0, bytes sent=5",
            "process detached",
            WaitingLine,
        };
        EXPECT_EQ(Joined(expected), Joined(TraceLines(viewer.Log()))) << "log buffer:\n" << viewer.Log();

        ASSERT_TRUE(viewer.Stop());
        EXPECT_EQ(Joined(expected), Joined(TraceLines(viewer.LogFile())))
            << "log file:\n" << viewer.LogFile();
        EXPECT_TRUE(viewer.LogShows("stopped by user"));

        // Start after Stop opens the block again without installing a second time
        int entries = LayerEntries();
        ASSERT_TRUE(viewer.Start()) << viewer.driver.WaitForMessageBox(500);
        EXPECT_EQ(entries, LayerEntries());
        EXPECT_EQ(0u, RunToEnd("socketlife.exe"));
        EXPECT_TRUE(viewer.LogShows("process detached")) << viewer.Log();
        EXPECT_EQ("4 4 0", viewer.Counts());
    }
    EXPECT_EQ(catalogBefore, CatalogSnapshot()) << "exit removes the layer";
}

TEST(Capture, OneProcessAtATimeAndTheNextAfterItDetaches)
{
    Viewer viewer;
    ASSERT_TRUE(viewer.Ready());
    EXPECT_EQ(0u, RunToEnd("recordsender.exe text stopped")) << "a record while stopped is answered 0";
    ASSERT_TRUE(viewer.Start());
    EXPECT_EQ(0u, RunToEnd("recordsender.exe text unclaimed")) << "nobody claimed the block yet";

    Process first;
    ASSERT_TRUE(first.Start("socketpause.exe 4000"));
    ASSERT_TRUE(viewer.LogShows("command line='socketpause.exe 4000'")) << viewer.Log();
    EXPECT_EQ(1u, RunToEnd("recordsender.exe text intruder")) << "another process while one is spied is told to stop";
    EXPECT_EQ(0u, RunToEnd("socketpause.exe 0")) << "a second program still works";
    EXPECT_EQ(0u, first.Wait());
    ASSERT_TRUE(viewer.LogShows(WaitingLine, 2)) << viewer.Log();

    // the next process is accepted without another Start
    EXPECT_EQ(0u, RunToEnd("socketpause.exe 1"));
    ASSERT_TRUE(viewer.LogShows(WaitingLine, 3)) << viewer.Log();
    std::string log = viewer.Log();
    EXPECT_NE(std::string::npos, log.find("command line='socketpause.exe 1'")) << log;
    EXPECT_EQ(std::string::npos, log.find("command line='socketpause.exe 0'")) << log;
    for (const char* dropped : {"stopped", "unclaimed", "intruder"})
        EXPECT_EQ(std::string::npos, log.find(dropped)) << dropped;
}

TEST(Capture, SecondCopyFailsItsStartAndTheFirstKeepsWorking)
{
    Viewer first;
    ASSERT_TRUE(first.Ready());
    ASSERT_TRUE(first.Start());
    Process secondProcess;
    ASSERT_TRUE(secondProcess.Start("kestrix.exe"));
    ViewerDriver second;
    ASSERT_TRUE(second.Find(secondProcess.info.dwProcessId, Patience));
    ASSERT_TRUE(second.Click(Id::ButtonStart));
    EXPECT_EQ("another copy of Kestrix is running", second.WaitForMessageBox(Patience));
    EXPECT_TRUE(second.AnswerMessageBox(IDOK));
    EXPECT_TRUE(WaitUntil([&] { return second.StatusText(1) == "Stopped"; }, Patience)) << second.StatusText(1);
    EXPECT_TRUE(second.CloseAnsweringYes(Patience));
    EXPECT_EQ(0u, secondProcess.Wait());

    EXPECT_EQ(0u, RunToEnd("socketlife.exe"));
    EXPECT_TRUE(first.LogShows("process detached")) << first.Log();
    EXPECT_EQ("4 4 0", first.Counts());
}

TEST(Capture, KilledProgramIsNoticedAndTheNextIsTraced)
{
    Viewer viewer;
    ASSERT_TRUE(viewer.Ready());
    ASSERT_TRUE(viewer.Start());
    Process doomed;
    ASSERT_TRUE(doomed.Start("socketpause.exe 60000"));
    ASSERT_TRUE(viewer.LogShows("command line='socketpause.exe 60000'")) << viewer.Log();
    ASSERT_TRUE(WaitUntil([&] { return viewer.Counts() == "1 0 1"; }, Patience)) << viewer.Counts();
    TerminateProcess(doomed.info.hProcess, 9);
    ASSERT_TRUE(viewer.LogShows(EndedLine)) << viewer.Log();
    ASSERT_TRUE(viewer.LogShows(WaitingLine, 2)) << viewer.Log();

    EXPECT_EQ(0u, RunToEnd("socketlife.exe"));
    EXPECT_TRUE(viewer.LogShows("process detached")) << viewer.Log();
    EXPECT_EQ("4 4 0", viewer.Counts());
}

TEST(Capture, MalformedRecordsNeitherCrashTheViewerNorSpoilItsLogFile)
{
    Viewer viewer;
    ASSERT_TRUE(viewer.Ready());
    ASSERT_TRUE(viewer.Start());
    for (const char* seed : {"1", "2"}) {
        std::string command = std::string("recordsender.exe fuzz ") + seed + " 2000";
        ASSERT_EQ(0u, RunToEnd(command)) << command;
        // every record was handled when its SendMessage returned: the viewer is alive and running
        ASSERT_TRUE(IsWindow(viewer.driver.Window()));
        EXPECT_EQ("Started", viewer.driver.StatusText(1));
        EXPECT_EQ("100 0 100", viewer.Counts()) << "only the well-formed records count, seed " << seed;
    }
    ASSERT_TRUE(viewer.Stop());
    std::vector<std::string> lines = SplitLines(viewer.LogFile());
    ASSERT_GE(lines.size(), 5u);
    EXPECT_EQ(WaitingLine, lines.front());
    // the file ends as it should: nothing after the Stop line, and each run closed by its detach
    std::vector<std::string> tail(lines.end() - 4, lines.end());
    EXPECT_EQ(Joined({"fuzzing finished", "process detached", WaitingLine, "stopped by user"}), Joined(tail));
    int finished = 0;
    for (const std::string& line : lines)
        finished += line == "fuzzing finished";
    EXPECT_EQ(2, finished);
}

TEST(Capture, StartFailsWhileTheLayerIsInstalledByOthersAndWorksOnceItIsGone)
{
    const std::string layerId = "{F388AA6E-39C9-4C31-9AF1-41866B21EF03}";
    std::string catalogBefore = CatalogSnapshot();
    char directory[MAX_PATH] = "";
    GetCurrentDirectoryA(sizeof directory, directory);
    ASSERT_EQ(0u, RunToEnd("wscatalog.exe install " + std::string(directory) + "\\kestrixlayer.dll " + layerId +
                           " Kestrix"));
    {
        Viewer viewer;
        ASSERT_TRUE(viewer.Ready());
        ASSERT_TRUE(viewer.driver.Click(Id::ButtonStart));
        EXPECT_EQ("could not initialize", viewer.driver.WaitForMessageBox(Patience));
        EXPECT_TRUE(viewer.driver.AnswerMessageBox(IDOK));
        EXPECT_TRUE(WaitUntil([&] { return IsWindowEnabled(viewer.driver.Control(Id::ButtonStart)) != 0; }, Patience));
        EXPECT_EQ("Stopped", viewer.driver.StatusText(1));

        // the failed Start closed its objects: the next one creates them and installs the layer
        EXPECT_EQ(0u, RunToEnd("wscatalog.exe remove " + layerId));
        ASSERT_TRUE(viewer.Start()) << viewer.driver.WaitForMessageBox(500);
        EXPECT_EQ(0u, RunToEnd("socketlife.exe"));
        EXPECT_TRUE(viewer.LogShows("process detached")) << viewer.Log();
    }
    EXPECT_EQ(catalogBefore, CatalogSnapshot());
}

TEST(Capture, KilledViewerLeavesTheProgramRunningAndTheNextViewerStarts)
{
    std::string catalogBefore = CatalogSnapshot();
    Process traced;
    {
        Viewer doomed;
        ASSERT_TRUE(doomed.Ready());
        ASSERT_TRUE(doomed.Start());
        ASSERT_TRUE(traced.Start("socketpause.exe 3000"));
        ASSERT_TRUE(doomed.LogShows("command line='socketpause.exe 3000'")) << doomed.Log();
        doomed.Kill();
    }
    EXPECT_EQ(0u, traced.Wait()) << "the traced program goes on and ends normally";
    EXPECT_GT(LayerEntries(), 1) << "a killed viewer cannot take the layer out";
    {
        Viewer next;
        ASSERT_TRUE(next.Ready());
        ASSERT_TRUE(next.Start()) << "the entries of the killed viewer are replaced: "
                                  << next.driver.WaitForMessageBox(500);
        EXPECT_EQ(0u, RunToEnd("socketlife.exe"));
        EXPECT_TRUE(next.LogShows("process detached")) << next.Log();
        EXPECT_EQ("4 4 0", next.Counts());
    }
    EXPECT_EQ(catalogBefore, CatalogSnapshot()) << "and the next viewer's exit takes them out";
}

TEST(Capture, RecordsFromNoBytesToMegabytesAreAllCountedAndLogged)
{
    Viewer viewer("e2e-capture.log", 2, true);   // High, the data dumped in hex to the file
    ASSERT_TRUE(viewer.Ready());
    ASSERT_TRUE(viewer.Start());
    Process sender;
    ASSERT_TRUE(sender.Start("recordsender.exe sizes"));
    ASSERT_EQ(0u, sender.Wait(60000));
    ASSERT_TRUE(viewer.LogShows("process detached")) << viewer.Log();
    EXPECT_TRUE(IsWindow(viewer.driver.Window()));
    // 0 + 1 + 15 + 16 + 17 + 4095 + 4096 + 65536 + 262144 + 1048576 bytes
    EXPECT_EQ("1,384,496 0", viewer.Totals());
    ASSERT_TRUE(viewer.Stop());
    std::vector<std::string> lines = SplitLines(viewer.LogFile());
    int dataLines = 0;
    for (const std::string& line : lines)
        dataLines += line == "socket (5000) received data";
    EXPECT_EQ(10, dataLines) << "every record's line reached the log file";
    // the 1 MiB record's last row: 1048576 bytes in rows of 16 end at offset FFFF0
    std::string lastRow;
    for (const std::string& line : lines)
        if (line.rfind("FFFF0  ", 0) == 0)
            lastRow = line;
    EXPECT_FALSE(lastRow.empty()) << "the largest record is dumped to its end";
}

TEST(Capture, ProgramKilledInTheMiddleOfItsTrafficIsNoticedAndTheNextIsTraced)
{
    Viewer viewer("e2e-capture.log", 1);
    ASSERT_TRUE(viewer.Ready());
    ASSERT_TRUE(viewer.Start());
    // Four threads moving data synchronously and overlapped, killed while records flow.
    Process busy;
    ASSERT_TRUE(busy.Start("stresstraffic.exe 100000"));
    ASSERT_TRUE(WaitUntil([&] { return viewer.Totals() != "0 0"; }, Patience)) << viewer.Log();
    Sleep(300);
    TerminateProcess(busy.info.hProcess, 9);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(busy.info.hProcess, 10000));
    // The next program is heard only once the viewer has noticed the end and opened the block.
    EXPECT_TRUE(WaitUntil([&] { return RunToEnd("socketlife.exe") == 0 && viewer.Counts() == "4 4 0"; },
                          Patience))
        << viewer.Counts();
    EXPECT_EQ("Started", viewer.driver.StatusText(1));
    ASSERT_TRUE(viewer.Stop());
    std::string log = viewer.LogFile();
    EXPECT_NE(std::string::npos, log.find(EndedLine));
    EXPECT_NE(std::string::npos, log.find("command line='socketlife.exe'"));
}

TEST(Capture, CatalogChangedByAnotherProcessUnderARunningTrace)
{
    Viewer viewer("e2e-capture.log", 1);
    ASSERT_TRUE(viewer.Ready());
    ASSERT_TRUE(viewer.Start());
    // Connections made, used and closed the whole time, while another layer comes and goes.
    Process traced;
    ASSERT_TRUE(traced.Start("stresstraffic.exe 150"));
    ASSERT_TRUE(WaitUntil([&] { return viewer.Totals() != "0 0"; }, Patience)) << viewer.Log();
    for (int i = 0; i < 2; i++) {
        EXPECT_EQ(0u, RunToEnd("wscatalog.exe install-test-layer"));
        EXPECT_EQ(0u, RunToEnd("wscatalog.exe remove-test-layer"));
    }
    // Sockets made while the other layer's chains come first are not the trace's to see.
    EXPECT_EQ(0u, traced.Wait(60000)) << "every byte of the traced program still arrives";
    ASSERT_TRUE(viewer.Stop());   // the log buffer shows its backlog at its own pace; the file
    EXPECT_NE(std::string::npos, viewer.LogFile().find("process detached"));   // has it all
}

TEST(Capture, FloodFromAnotherProcessLeavesTheTraceAlone)
{
    Viewer viewer("e2e-capture.log", 1);
    ASSERT_TRUE(viewer.Ready());
    ASSERT_TRUE(viewer.Start());
    Process traced;
    ASSERT_TRUE(traced.Start("stresstraffic.exe 300"));
    ASSERT_TRUE(WaitUntil([&] { return viewer.Totals() != "0 0"; }, Patience)) << viewer.Log();
    EXPECT_EQ(0u, RunToEnd("recordsender.exe flood 5000"));
    EXPECT_EQ(0u, traced.Wait(60000));
    EXPECT_TRUE(WaitUntil([&] { return viewer.Totals() == "2,400,000 2,400,000"; }, Patience))
        << viewer.Totals() << ": 4 threads, 300 rounds, 2000 bytes each way";
    ASSERT_TRUE(viewer.Stop());
    std::string log = viewer.LogFile();
    EXPECT_EQ(std::string::npos, log.find("a flood record"));
    EXPECT_NE(std::string::npos, log.find("process detached"));
}
