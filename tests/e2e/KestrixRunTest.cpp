// kestrixrun, the console tracer, as scripts run it: its files against the real viewer's log
// file for the same records and the same programs, its exit codes, its JSON lines, and a catalog
// left as it was however a run ends.
#include <gtest/gtest.h>

#include <windows.h>

#include <map>
#include <regex>
#include <string>
#include <vector>

#include "JsonCheck.h"
#include "PcapngRead.h"
#include "TraceHistories.h"
#include "ViewerSession.h"

namespace {

const char RunOutput[] = "e2e-run.out";       // kestrixrun's own standard output and error
const char ViewerLog[] = "e2e-run-viewer.log";
const char* const LevelNames[] = {"low", "medium", "high"};

// Starts the command line with its standard output and error in the file outputName.
bool StartWithOutput(Process& process, std::string commandLine, const char* outputName, DWORD flags = 0)
{
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE output = CreateFileA(outputName, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                CREATE_ALWAYS, 0, nullptr);
    if (output == INVALID_HANDLE_VALUE)
        return false;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = startup.hStdError = output;
    bool started = CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, TRUE, flags, nullptr, nullptr,
                                  &startup, &process.info);
    CloseHandle(output);
    return started;
}

// Runs kestrixrun with these arguments to its end; its exit code, or 0xdeadbeef.
DWORD RunKestrix(const std::string& arguments)
{
    Process process;
    return StartWithOutput(process, "kestrixrun.exe " + arguments, RunOutput) ? process.Wait() : 0xdeadbeef;
}

// The same as a user without administrator rights: the Administrators group only denies, as in
// the filtered token of an administrator who has not elevated.
DWORD RunKestrixUnelevated(const std::string& arguments)
{
    HANDLE token = nullptr, filtered = nullptr;
    BYTE administrators[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof administrators;
    SID_AND_ATTRIBUTES denyOnly = {administrators, 0};
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, &token) ||
        !CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size) ||
        !CreateRestrictedToken(token, 0, 1, &denyOnly, 0, nullptr, 0, nullptr, &filtered))
        return 0xdeadbeef;
    CloseHandle(token);
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE output = CreateFileA(RunOutput, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                CREATE_ALWAYS, 0, nullptr);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = startup.hStdError = output;
    std::string commandLine = "kestrixrun.exe " + arguments;
    Process process;
    bool started = CreateProcessAsUserA(filtered, nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr,
                                        nullptr, &startup, &process.info);
    CloseHandle(output);
    CloseHandle(filtered);
    return started ? process.Wait() : 0xdeadbeef;
}

// recordsender's records, sent once the block that kestrixrun or a viewer publishes is open.
DWORD SendScript(const char* mode)
{
    DWORD code = 2;   // recordsender found no open control block
    WaitUntil([&] { return (code = RunToEnd(std::string("recordsender.exe ") + mode)) != 2; }, Patience);
    return code;
}

std::string TraceOfViewer(const char* logName, DWORD detail, const char* senderMode)
{
    Viewer viewer(logName, detail);
    EXPECT_TRUE(viewer.Ready() && viewer.Start());
    EXPECT_EQ(0u, SendScript(senderMode));
    EXPECT_TRUE(viewer.LogShows(WaitingLine, 2)) << viewer.Log();
    EXPECT_TRUE(viewer.Stop());
    return viewer.LogFile();
}

std::string TraceOfRun(const std::string& options, const char* outputName, const char* senderMode)
{
    Process run;
    EXPECT_TRUE(StartWithOutput(run, "kestrixrun.exe --wait " + options + " --output " + outputName, RunOutput));
    EXPECT_EQ(0u, SendScript(senderMode));
    EXPECT_EQ(0u, run.Wait()) << "the exit code of the traced process\n" << ReadWholeFile(RunOutput);
    return ReadWholeFile(outputName);
}

TEST(KestrixRun, TheViewersLogFileByteForByteForTheSameRecords)
{
    const std::string waiting = std::string(WaitingLine) + "\r\n";
    const std::string stopped = "stopped by user\r\n";
    for (DWORD detail = 0; detail <= 2; detail++) {
        std::string level = LevelNames[detail];
        std::string run = TraceOfRun("--detail " + level, "e2e-run.txt", "script");
        ASSERT_NE(std::string::npos, run.find("process detached\r\n")) << run;
        EXPECT_EQ(waiting, run.substr(0, waiting.size()));
        // after the detach the viewer waits for the next process until Stop; kestrixrun ends
        EXPECT_EQ(TraceOfViewer(ViewerLog, detail, "script"), run + waiting + stopped) << level;
    }

    const char footer[] = "</span>\r\n</body>\r\n</html>\r\n";
    std::string html = TraceOfRun("--format html", "e2e-run.dat", "script");
    ASSERT_GT(html.size(), sizeof footer);
    ASSERT_EQ(footer, html.substr(html.size() - strlen(footer)));
    std::string viewerHtml = TraceOfViewer("e2e-run-viewer.htm", 2, "script");
    EXPECT_EQ(viewerHtml, html.substr(0, html.size() - strlen(footer)) + "</span><span class=\"tsstart\">" +
                              WaitingLine + "<br />\r\n</span><span class=\"tserror\">stopped by user<br />\r\n" +
                              footer);
    EXPECT_NE(std::string::npos, html.find("HTTP/1.0 200 OK")) << "the HTTP socket's lines";
    EXPECT_NE(std::string::npos, html.find("second &lt;line&gt; &amp; \"more\"<br />")) << html;

    std::string fuzz = TraceOfRun("", "e2e-run.txt", "fuzz 11 400");
    EXPECT_EQ(TraceOfViewer(ViewerLog, 2, "fuzz 11 400"), fuzz + waiting + stopped);
}

std::vector<JsonObject> JsonLinesOf(const std::string& text)
{
    std::vector<JsonObject> objects;
    for (const std::string& line : SplitLines(text)) {
        JsonObject object;
        std::string error = ParseJsonObject(line, object);
        EXPECT_EQ("", error) << line;
        EXPECT_EQ(JsonValue::Number, object["time"].type) << line;
        objects.push_back(object);
    }
    return objects;
}

TEST(KestrixRun, JsonLinesOfTheSameRecords)
{
    std::vector<JsonObject> lines =
        JsonLinesOf(TraceOfRun("--format jsonl", "e2e-run.jsonl", "script"));
    ASSERT_EQ(19u, lines.size()) << "the waiting line and one line per record";
    EXPECT_EQ("status", lines[0]["kind"].text);
    EXPECT_EQ(0u, lines[0].count("pid"));
    std::string kinds;
    double last = 0;
    for (size_t i = 1; i < lines.size(); i++) {
        kinds += lines[i]["kind"].text + " ";
        EXPECT_LE(last, lines[i]["time"].number) << "arrival times grow";
        last = lines[i]["time"].number;
        EXPECT_EQ(JsonValue::Number, lines[i]["pid"].type);
    }
    EXPECT_EQ("process_attached socket_created socket_created socket_created data_sent data_received data_sent "
              "data_sent data_received data_received data_sent message message data_received socket_closed "
              "socket_closed socket_closed process_detached ",
              kinds);
    JsonObject& request = lines[5];
    EXPECT_EQ("7", request["socket"].text);
    EXPECT_EQ("socket (7) sent data", request["text"].text);
    std::string bytes;
    EXPECT_TRUE(DecodeBase64(request["data"].text, bytes));
    EXPECT_EQ("GET /index.html HTTP/1.0\r\nHost: localhost\r\n\r\n", bytes);
    EXPECT_EQ(std::to_string(bytes.size()), request["count"].text);
    EXPECT_EQ("100000", lines[11]["count"].text);
    EXPECT_EQ(0u, lines[11].count("data")) << "a counted file carries no bytes";
    EXPECT_EQ("socket (9) said <odd> & \"quoted\" things\tand a tab", lines[12]["text"].text);
}

// A sample's histories, every line kept, from the lines of one traced process; handles of files
// written as H.
std::vector<History> FullHistories(const std::vector<std::string>& lines)
{
    static const std::regex fileHandle("hFile=[0-9A-F]+");
    std::vector<History> histories = Histories(lines, true);
    for (History& history : histories)
        for (std::string& line : history)
            line = std::regex_replace(line, fileHandle, "hFile=H");
    return histories;
}

int Count(const std::string& text, const std::string& part)
{
    int found = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        found++;
    return found;
}

// A log file's lines; an HTML page's as its text shows them, without tags and entities.
std::vector<std::string> LinesOfLog(const std::string& log)
{
    if (log.rfind("<html>", 0) != 0)
        return SplitLines(log);
    size_t body = log.find("<body>\r\n");
    size_t end = log.rfind("</body>");
    if (body == std::string::npos || end == std::string::npos)
        return {"not an HTML log file"};
    std::string text = log.substr(body + 8, end - body - 8);
    const std::pair<std::regex, const char*> replacements[] = {
        {std::regex("</?span[^>]*>|<br />"), ""}, {std::regex("&nbsp;"), " "}, {std::regex("&lt;"), "<"},
        {std::regex("&gt;"), ">"},                {std::regex("&amp;"), "&"},
    };
    for (const auto& replacement : replacements)
        text = std::regex_replace(text, replacement.first, replacement.second);
    return SplitLines(text);
}

struct Totals {
    double received = 0, sent = 0, bytesReceived = 0, bytesSent = 0;
};

Totals TotalsOf(std::vector<JsonObject>& lines)
{
    Totals totals;
    for (JsonObject& line : lines) {
        std::string bytes;
        EXPECT_TRUE(DecodeBase64(line["data"].text, bytes)) << line["data"].text;
        if (line["kind"].text == "data_received") {
            totals.received += line["count"].number;
            totals.bytesReceived += double(bytes.size());
        } else if (line["kind"].text == "data_sent") {
            totals.sent += line["count"].number;
            totals.bytesSent += double(bytes.size());
        }
    }
    return totals;
}

TEST(KestrixRun, SamplesTracedAsTheViewerTracesThem)
{
    // Samples whose every socket runs the same course each time, at each level and as HTML.
    const char* const compared[] = {"tcp_blocking.exe", "udp.exe", "transmitfile.exe", "sockopts.exe"};
    const struct {
        DWORD detail;
        const char* extension;
    } files[] = {{0, ".txt"}, {1, ".txt"}, {2, ".txt"}, {2, ".htm"}};
    for (const auto& file : files) {
        std::string level = LevelNames[file.detail] + std::string(" ") + file.extension;
        std::string runName = std::string("e2e-run") + file.extension;
        std::string viewerName = std::string("e2e-run-viewer") + file.extension;
        std::vector<std::vector<History>> byRun;
        for (const char* sample : compared) {
            EXPECT_EQ(0u, RunKestrix("--detail " + std::string(LevelNames[file.detail]) + " --output " + runName +
                                     " " + sample))
                << sample << " at " << level << "\n" << ReadWholeFile(RunOutput);
            byRun.push_back(FullHistories(LinesOfLog(ReadWholeFile(runName.c_str()))));
        }
        Viewer viewer(viewerName.c_str(), file.detail);
        ASSERT_TRUE(viewer.Ready() && viewer.Start());
        for (int i = 0; i < int(sizeof compared / sizeof compared[0]); i++) {
            EXPECT_EQ(0u, RunToEnd(compared[i]));
            // the log buffer keeps only its last lines; the file keeps every one
            EXPECT_TRUE(WaitUntil([&] { return Count(viewer.LogFile(), WaitingLine) == i + 2; }, Patience));
        }
        EXPECT_TRUE(viewer.Stop());
        std::vector<std::vector<std::string>> processes = ProcessesOf(LinesOfLog(viewer.LogFile()));
        ASSERT_EQ(byRun.size(), processes.size());
        for (size_t i = 0; i < byRun.size(); i++)
            EXPECT_EQ(FullHistories(processes[i]), byRun[i]) << compared[i] << " at " << level;
    }

    // Every other sample exits with its own code, traced at each level.
    // The HTTP pair's first process to make a socket call is the server; kestrixrun traces it,
    // then waits for run_pair.
    const char* const others[] = {"overlapped.exe",   "ipv6.exe",         "nonblocking.exe",
                                  "async_select.exe", "event_select.exe", "acceptex.exe",
                                  "wsarecvmsg.exe",   "wsa_variants.exe", "poll_sendmsg.exe",
                                  "run_pair.exe http_server.exe http_client.exe"};
    for (const char* level : LevelNames)
        for (const char* sample : others) {
            EXPECT_EQ(0u, RunKestrix(std::string("--detail ") + level + " --format jsonl --output e2e-run.jsonl " +
                                     sample))
                << sample << " at " << level << "\n" << ReadWholeFile(RunOutput);
            std::vector<JsonObject> lines = JsonLinesOf(ReadWholeFile("e2e-run.jsonl"));
            ASSERT_FALSE(lines.empty()) << sample;
            EXPECT_EQ("process_detached", lines.back()["kind"].text) << sample << " at " << level;
        }

    // The JSON byte counts add up to what the samples moved, and at High every byte is there.
    const struct {
        const char* sample;
        double received, sent;
    } moved[] = {{"tcp_blocking.exe", 86, 86}, {"udp.exe", 138, 538}, {"overlapped.exe", 53, 53}};
    for (const auto& m : moved) {
        EXPECT_EQ(0u, RunKestrix(std::string("--format jsonl --output e2e-run.jsonl ") + m.sample));
        std::vector<JsonObject> lines = JsonLinesOf(ReadWholeFile("e2e-run.jsonl"));
        Totals totals = TotalsOf(lines);
        EXPECT_EQ(m.received, totals.received) << m.sample;
        EXPECT_EQ(m.sent, totals.sent) << m.sample;
        EXPECT_EQ(m.received, totals.bytesReceived) << m.sample;
        EXPECT_EQ(m.sent, totals.bytesSent) << m.sample;
    }
}

std::string SystemText(DWORD error)
{
    char text[512] = "";
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                                  text, sizeof text, nullptr);
    while (length > 0 && strchr("\r\n ", text[length - 1]))
        text[--length] = 0;
    return text;
}

// Starts kestrixrun writing JSON lines to jsonName for the command line, and waits until the
// traced program has made its first socket; the program's process id, or 0.
DWORD StartTracing(Process& run, const char* jsonName, const std::string& commandLine, DWORD flags = 0)
{
    DeleteFileA(jsonName);
    if (!StartWithOutput(run, "kestrixrun.exe --format jsonl --output " + std::string(jsonName) + " " + commandLine,
                         RunOutput, flags))
        return 0;
    DWORD processId = 0;
    WaitUntil(
        [&] {
            for (const std::string& line : SplitLines(ReadWholeFile(jsonName))) {
                JsonObject object;
                if (ParseJsonObject(line, object).empty() && object["kind"].text == "socket_created")
                    processId = DWORD(object["pid"].number);
            }
            return processId != 0;
        },
        Patience);
    return processId;
}

// A console delivers Ctrl+Break by starting kernel32's CtrlRoutine in each process attached to it.
// The tests run without a console that could, so the test starts that routine itself.
bool PressCtrlBreak(HANDLE process)
{
    auto routine = reinterpret_cast<LPTHREAD_START_ROUTINE>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "CtrlRoutine")));
    HANDLE thread = routine ? CreateRemoteThread(process, nullptr, 0, routine,
                                                 reinterpret_cast<void*>(UINT_PTR(CTRL_BREAK_EVENT)), 0, nullptr)
                            : nullptr;
    if (!thread)
        return false;
    CloseHandle(thread);
    return true;
}

// The process id that a pcapng file's section names, once kestrixrun has written it; 0 before.
DWORD TracedProcessOf(const char* pcapngName)
{
    PcapngFile file = ReadPcapng(ReadWholeFile(pcapngName));
    unsigned long processId = 0;
    if (file.error.empty())
        sscanf(file.sectionComment.c_str(), "the socket calls of process %lu", &processId);
    return DWORD(processId);
}

TEST(KestrixRun, APcapngFileThatCannotBeWrittenEndsTheRun)
{
    const std::string before = CatalogSnapshot();
    ASSERT_EQ(0, LayerEntries());

    for (const char* level : {"low", "medium"}) {
        EXPECT_EQ(2u, RunKestrix(std::string("--format pcapng --detail ") + level + " --output e2e-run.pcapng " +
                                 "tcp_blocking.exe"));
        std::string output = ReadWholeFile(RunOutput);
        EXPECT_NE(std::string::npos, output.find("kestrixrun: --format pcapng needs --detail high: only High records "
                                                 "carry the bytes that packets hold"))
            << output;
        EXPECT_NE(std::string::npos, output.find("usage: kestrixrun")) << output;
    }

    // Linux's /dev/full takes the file and refuses its bytes, as a full disk does
    EXPECT_EQ(1u, RunKestrix("--format pcapng --output Z:\\dev\\full socketpause.exe 0"));
    EXPECT_NE(std::string::npos, ReadWholeFile(RunOutput).find("kestrixrun: cannot write Z:\\dev\\full: " +
                                                               SystemText(ERROR_DISK_FULL)))
        << ReadWholeFile(RunOutput);
    EXPECT_EQ(before, CatalogSnapshot()) << "a full disk";

    EXPECT_EQ(1u, RunKestrix("--format pcapng --output no-such-folder\\e2e-run.pcapng socketpause.exe 0"));
    EXPECT_NE(std::string::npos,
              ReadWholeFile(RunOutput).find("kestrixrun: cannot write no-such-folder\\e2e-run.pcapng: " +
                                            SystemText(ERROR_PATH_NOT_FOUND)))
        << ReadWholeFile(RunOutput);
    EXPECT_EQ(before, CatalogSnapshot()) << "a file in no folder";

    // the traced program killed: the file so far is whole
    DeleteFileA("e2e-run.pcapng");
    Process run;
    ASSERT_TRUE(StartWithOutput(run, "kestrixrun.exe --output e2e-run.pcapng socketpause.exe 20000", RunOutput));
    DWORD processId = 0;
    WaitUntil([&] { return (processId = TracedProcessOf("e2e-run.pcapng")) != 0; }, Patience);
    HANDLE traced = OpenProcess(PROCESS_TERMINATE, FALSE, processId);
    ASSERT_NE(nullptr, traced) << ReadWholeFile(RunOutput);
    TerminateProcess(traced, 9);
    CloseHandle(traced);
    EXPECT_EQ(9u, run.Wait()) << "the killed program's exit code";
    PcapngFile file = ReadPcapng(ReadWholeFile("e2e-run.pcapng"));
    EXPECT_EQ("", file.error);
    EXPECT_NE(std::string::npos, file.sectionComment.find("command line: socketpause.exe 20000")) << file.sectionComment;
    EXPECT_NE(std::string::npos, ReadWholeFile(RunOutput).find(std::string("kestrixrun: ") + EndedLine))
        << "a pcapng file has no place for the capture's own lines: standard error has them";
    EXPECT_EQ(before, CatalogSnapshot()) << "a killed program";
}

// Records that no layer writes still make a file: texts that name no family, type or address,
// a kind to come, and recordsender's malformed records.
TEST(KestrixRun, PcapngOfRecordsThatNameLittle)
{
    std::string binary;
    for (int i = 0; i < 40; i++)
        binary += char(i * 13);
    PcapngFile file = ReadPcapng(TraceOfRun("--format pcapng", "e2e-run.pcapng", "script"));
    ASSERT_EQ("", file.error);
    EXPECT_NE(std::string::npos, file.sectionComment.find("command line: recordsender.exe script")) << file.sectionComment;
    std::string carried;
    for (const PcapngPacket& packet : file.packets) {
        EXPECT_TRUE(packet.checksumsValid) << packet.comment;
        carried += packet.payload;
    }
    EXPECT_EQ("GET /index.html HTTP/1.0\r\nHost: localhost\r\n\r\nHTTP/1.0 200 OK\r\nContent-Length: 40\r\n\r\n" +
                  binary + "hello  world\r\nsecond <line> & \"more\"" + std::string("\0\x01" "abc", 5) + binary +
                  "text now\r\n",
              carried)
        << "every byte the records carried, in their order, and none invented for the counted file";
    ASSERT_FALSE(file.packets.empty());
    EXPECT_NE(std::string::npos,
              file.packets[0].comment.find(": socket (7) to its peer; the address and port of socket (7) not in the "
                                           "trace: 240.0.0.7:65535 stands in"))
        << file.packets[0].comment;

    PcapngFile fuzz = ReadPcapng(TraceOfRun("--format pcapng", "e2e-run.pcapng", "fuzz 11 400"));
    EXPECT_EQ("", fuzz.error);
    for (const PcapngPacket& packet : fuzz.packets)
        EXPECT_TRUE(packet.checksumsValid) << packet.comment;
}

TEST(KestrixRun, EveryEndLeavesTheCatalogAsItWas)
{
    const std::string before = CatalogSnapshot();
    ASSERT_EQ(0, LayerEntries());

    EXPECT_EQ(2u, RunKestrix("--detail loud tcp_blocking.exe"));
    EXPECT_NE(std::string::npos, ReadWholeFile(RunOutput).find("usage: kestrixrun")) << ReadWholeFile(RunOutput);

    EXPECT_EQ(1u, RunKestrix("no-such-program.exe --flag"));
    EXPECT_NE(std::string::npos, ReadWholeFile(RunOutput).find("kestrixrun: cannot start no-such-program.exe: " +
                                                               SystemText(ERROR_FILE_NOT_FOUND)))
        << ReadWholeFile(RunOutput);
    EXPECT_EQ(before, CatalogSnapshot()) << "a program that cannot be started";

    EXPECT_EQ(7u, RunKestrix("cmd.exe /c exit 7")) << "a program that makes no socket call";
    EXPECT_EQ(before, CatalogSnapshot());

    EXPECT_EQ(1u, RunKestrixUnelevated("socketpause.exe 0"));
    const std::string refusal = ReadWholeFile(RunOutput);
    EXPECT_EQ(0u, refusal.find("kestrixrun: administrator rights are needed to change the Winsock catalog: "
                               "run kestrixrun elevated"))
        << refusal;
    EXPECT_EQ(1, Count(refusal, "\n")) << "one line, before anything is touched: " << refusal;
    EXPECT_EQ(before, CatalogSnapshot()) << "without administrator rights";

    {   // a second copy is refused, and the first goes on
        Process first;
        ASSERT_TRUE(StartWithOutput(first, "kestrixrun.exe --wait --output e2e-run.txt", "e2e-run-first.out"));
        ASSERT_TRUE(WaitUntil([] { return LayerEntries() > 0; }, Patience));
        EXPECT_EQ(1u, RunKestrix("socketpause.exe 0"));
        EXPECT_NE(std::string::npos, ReadWholeFile(RunOutput).find("another copy of Kestrix is running"));
        EXPECT_EQ(0u, RunToEnd("socketpause.exe 1"));
        EXPECT_EQ(0u, first.Wait()) << "the first copy traced the next program";
        EXPECT_NE(std::string::npos, ReadWholeFile("e2e-run.txt").find("command line='socketpause.exe 1'"));
        EXPECT_EQ(before, CatalogSnapshot()) << "a second copy";
    }
    {   // a running viewer is refused alike, and undisturbed
        Viewer viewer(ViewerLog);
        ASSERT_TRUE(viewer.Ready() && viewer.Start());
        EXPECT_EQ(1u, RunKestrix("socketpause.exe 0"));
        EXPECT_NE(std::string::npos, ReadWholeFile(RunOutput).find("another copy of Kestrix is running"));
        EXPECT_EQ(0u, RunToEnd("socketpause.exe 2"));
        EXPECT_TRUE(viewer.LogShows("command line='socketpause.exe 2'")) << viewer.Log();
    }
    EXPECT_EQ(before, CatalogSnapshot()) << "a running viewer";

    {   // the traced program killed
        Process run;
        DWORD processId = StartTracing(run, "e2e-run.jsonl", "socketpause.exe 20000");
        HANDLE traced = OpenProcess(PROCESS_TERMINATE, FALSE, processId);
        ASSERT_NE(nullptr, traced);
        TerminateProcess(traced, 9);
        CloseHandle(traced);
        EXPECT_EQ(9u, run.Wait()) << "the killed program's exit code";
        std::vector<JsonObject> lines = JsonLinesOf(ReadWholeFile("e2e-run.jsonl"));
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ("error", lines.back()["kind"].text);
        EXPECT_EQ(EndedLine, lines.back()["text"].text);
        EXPECT_EQ(before, CatalogSnapshot()) << "a killed program";
    }
    {   // Ctrl+Break during a trace
        Process run;
        ASSERT_NE(0u, StartTracing(run, "e2e-run.jsonl", "socketpause.exe 20000"));
        ASSERT_TRUE(PressCtrlBreak(run.info.hProcess));
        EXPECT_EQ(DWORD(STATUS_CONTROL_C_EXIT), run.Wait());
        std::vector<JsonObject> lines = JsonLinesOf(ReadWholeFile("e2e-run.jsonl"));
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ("stopped by user", lines.back()["text"].text);
        EXPECT_EQ(before, CatalogSnapshot()) << "Ctrl+Break";
    }
}

}  // namespace
