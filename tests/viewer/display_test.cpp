// The log buffer of a real main window: batches and their colours, trimming, pause and resume,
// Log File Only, the display timer, batches brought in together at the tick.
#include "ViewerHarness.h"

#include <richedit.h>

#include <cstring>
#include <random>
#include <vector>

#include "HexDump.h"

namespace {

const std::string Waiting = std::string(WaitingStatusText) + "\r\n";

std::string Line(char fill, int length)
{
    return std::string(size_t(length), fill);
}

// Position of text in the log buffer's own units, where a line break is one character.
int PositionOf(const std::string& memoText, const std::string& needle)
{
    size_t at = memoText.find(needle);
    if (at == std::string::npos)
        return -1;
    int breaks = 0;
    for (size_t i = 0; i < at; i++)
        breaks += memoText[i] == '\n';
    return int(at) - breaks;
}

DWORD CALLBACK AppendStreamed(DWORD_PTR cookie, LPBYTE bytes, LONG count, LONG* done)
{
    reinterpret_cast<std::string*>(cookie)->append(reinterpret_cast<char*>(bytes), size_t(count));
    *done = count;
    return 0;
}

// The log buffer as rich text: its text with every colour change.
std::string MemoRtf(HWND memo)
{
    std::string rtf;
    EDITSTREAM stream = {DWORD_PTR(&rtf), 0, AppendStreamed};
    SendMessageA(memo, EM_STREAMOUT, SF_RTF, LPARAM(&stream));
    return rtf;
}

// One line of a burst as the log buffer shows it, with its kind.
struct BurstLine {
    std::string text;
    int32_t kind;
};

// A burst as a traced exchange makes it at High: a message line, then its data as a text line or
// two, or a hex dump, over and over; oddLine, when given, now and then among the data. Returns
// the lines as the log buffer shows them.
std::vector<BurstLine> AddBurst(TForm1* form, int exchanges, uint32_t seed, const char* oddLine = nullptr)
{
    std::mt19937 random(seed);
    std::vector<BurstLine> lines;
    // what a message may hold besides letters: the rich text's own marks, a tab, every byte past ASCII
    std::string specials = "{braces}, a \\back\\slash\\, a\ttab, ";
    for (int c = 0x80; c <= 0xFF; c++)
        specials += char(c);
    for (int i = 0; i < exchanges; i++) {
        std::string message = "socket (" + std::to_string(100 + i % 7) + ") received " + std::to_string(i) +
                              " bytes of data" + (i % 40 == 39 ? specials : "");
        EXPECT_TRUE(form->AddMessageLine(message.c_str(), false));
        lines.push_back({message, MessageLine});
        if (i % 9 == 8) {
            std::vector<uint8_t> bytes(16 + random() % 150);
            for (uint8_t& byte : bytes)
                byte = uint8_t(random());
            EXPECT_TRUE(form->AddHexDump(bytes.data(), int32_t(bytes.size()), 0));
            std::string dump(HexDumpLength(bytes.size(), 0), '\0');
            FormatHexDump(bytes.data(), bytes.size(), 0, &dump[0]);
            for (size_t at = 0; at < dump.size(); at = dump.find("\r\n", at) + 2)
                lines.push_back({dump.substr(at, dump.find("\r\n", at) - at), DataLine});
            continue;
        }
        for (int n = 1 + int(random() % 4 == 0); n > 0; n--) {
            std::string data = Line(char('a' + random() % 26), int(random() % 120));
            if (oddLine && random() % 200 == 0)
                data = oddLine;
            EXPECT_TRUE(form->AddLine(data.c_str(), DataLine, false));
            lines.push_back({data, DataLine});
        }
    }
    return lines;
}

// Handles the window's messages until the display timer's next tick has been handled; false when
// none comes within the time.
bool RunOneTick(TForm1* form, DWORD timeoutMs = 10000)
{
    DWORD deadline = GetTickCount() + timeoutMs;
    while (GetTickCount() < deadline) {
        MSG message;
        if (!PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
            continue;
        }
        bool tick = message.message == WM_TIMER && message.hwnd == form->Handle && message.wParam == 1;
        DispatchApplicationMessage(form, message);
        if (tick)
            return true;
    }
    return false;
}

// The log buffer after showing what waits one batch at a time, each brought in at once.
std::string ShownOneBatchAtATime(TForm1* form)
{
    while (form->ShowNextBatch())
        form->CatchUpLogBuffer();
    return MemoRtf(form->Memo1);
}

// Some lines already in the log buffer before a burst, the same each time.
void FillSome(TForm1* form)
{
    for (int i = 0; i < 300; i++) {
        std::string line = "present line " + std::to_string(i);
        EXPECT_TRUE(form->AddLine(line.c_str(), i % 2 ? MessageLine : StatusLine, false));
    }
    ShownOneBatchAtATime(form);
}

std::string LastLine(const std::string& text)
{
    std::string body = text;
    if (body.size() >= 2 && body.compare(body.size() - 2, 2, "\r\n") == 0)
        body.resize(body.size() - 2);
    size_t start = body.rfind("\r\n");
    return start == std::string::npos ? body : body.substr(start + 2);
}

}  // namespace

TEST(LogBuffer, BatchesMergeByKindAndTakeTheirColour)
{
    ViewerHarness viewer;
    TForm1* form = viewer.form;
    form->StartSpying();
    ASSERT_TRUE(form->Started);
    ASSERT_EQ(1, viewer.ShowAll());
    ASSERT_EQ(Waiting, viewer.MemoText());

    struct Case {
        const char* name;
        bool colors;
        int batches;
    } cases[] = {{"colours on: a kind change ends the batch", true, 3},
                 {"colours off: kinds merge into one black batch", false, 1}};
    for (const Case& c : cases) {
        form->Clear();
        form->Colors = c.colors;
        ASSERT_TRUE(form->AddMessageLine("first message", false));
        ASSERT_TRUE(form->AddMessageLine("second message", false));
        ASSERT_TRUE(form->AddLine("data line", DataLine, false));
        ASSERT_TRUE(form->AddErrorLine("an error"));
        EXPECT_EQ(c.batches, viewer.ShowAll()) << c.name;
        std::string text = viewer.MemoText();
        EXPECT_EQ("first message\r\nsecond message\r\ndata line\r\nan error\r\n", text) << c.name;
        struct Span {
            const char* text;
            COLORREF colour;
        } spans[] = {{"first message", 0x800000}, {"second message", 0x800000}, {"data line", 0},
                     {"an error", 0x000080}};
        for (const Span& span : spans) {
            COLORREF expected = c.colors ? span.colour : 0;
            EXPECT_EQ(expected, viewer.ColorOf(PositionOf(text, span.text), int(strlen(span.text))))
                << c.name << ": " << span.text;
        }
    }
}

TEST(LogBuffer, MergedBatchEndsAfterTheEntryThatPasses1024Characters)
{
    ViewerHarness viewer;
    TForm1* form = viewer.form;
    form->StartSpying();
    viewer.ShowAll();
    form->Clear();
    // 50 characters and CR LF: 19 lines make 988, the 20th takes the batch past 1024
    for (int i = 0; i < 30; i++)
        ASSERT_TRUE(form->AddMessageLine(Line(char('A' + i % 26), 50).c_str(), false));
    ASSERT_TRUE(form->ShowNextBatch());
    EXPECT_EQ(20u * 52, viewer.MemoText().size());
    ASSERT_TRUE(form->ShowNextBatch());
    EXPECT_EQ(30u * 52, viewer.MemoText().size());
    EXPECT_FALSE(form->ShowNextBatch());
    EXPECT_EQ(nullptr, form->PendingHead);
    EXPECT_EQ(0, form->BacklogUsed);
}

TEST(LogBuffer, TrimsWholeLinesToTheBufferSize)
{
    ViewerHarness viewer;
    TForm1* form = viewer.form;
    ASSERT_EQ(32768, form->BufferSize);
    form->StartSpying();
    viewer.ShowAll();
    for (int i = 0; i < 700; i++) {
        char line[80];
        snprintf(line, sizeof line, "line %04d %s", i, Line('x', 50).c_str());
        ASSERT_TRUE(form->AddMessageLine(line, false));
        if (i % 50 == 49)
            viewer.ShowAll();
    }
    viewer.ShowAll();
    std::string text = viewer.MemoText();
    EXPECT_LE(text.size(), 32768u);
    EXPECT_GT(text.size(), 32768u - 62u);
    EXPECT_EQ(0u, text.find("line ")) << "the buffer must start with a whole line: " << text.substr(0, 40);
    EXPECT_NE(std::string::npos, text.find("line 0699 ")) << "the newest line must stay";
    EXPECT_EQ(size_t(form->LogBufferLength()), text.size());

    // a single batch larger than the limit empties the buffer and stands whole
    std::string bytes(8000, 'b');
    ASSERT_TRUE(form->AddHexDump(reinterpret_cast<const uint8_t*>(bytes.data()), int32_t(bytes.size()), 0));
    viewer.ShowAll();
    text = viewer.MemoText();
    EXPECT_EQ(500u * 74, text.size());
    EXPECT_EQ(0u, text.find("0000  62 62")) << text.substr(0, 80);
}

TEST(LogBuffer, SmallerSizeTrimsAtOnceLargerDoesNot)
{
    ViewerHarness viewer;
    TForm1* form = viewer.form;
    form->OnClick(Id::MMenuItemUnlimited);
    EXPECT_EQ(-1, form->BufferSize);
    EXPECT_TRUE(form->ItemChecked(Id::MMenuItemUnlimited));
    EXPECT_TRUE(form->ItemChecked(Id::MenuItemUnlimited));
    form->StartSpying();
    for (int i = 0; i < 2000; i++)
        ASSERT_TRUE(form->AddMessageLine(Line('u', 60).c_str(), false));
    viewer.ShowAll();
    int32_t full = form->LogBufferLength();
    EXPECT_EQ(int32_t(Waiting.size()) + 2000 * 62, full);

    struct Case {
        UINT item;
        int32_t size;
        int32_t lengthAtMost;
        int32_t lengthAtLeast;
    } cases[] = {
        {Id::MenuItem512KB, 524288, full, full},   // larger than the text: nothing goes
        {Id::MMenuItem32KB, 32768, 32768, 32768 - 62},
        {Id::MMenuItem128KB, 131072, 32768, 32768 - 62},   // larger: nothing comes back
        {Id::MMenuItemUnlimited, -1, 32768, 32768 - 62},
    };
    for (const Case& c : cases) {
        form->OnClick(c.item);
        EXPECT_EQ(c.size, form->BufferSize) << c.item;
        int32_t length = form->LogBufferLength();
        EXPECT_LE(length, c.lengthAtMost) << c.item;
        EXPECT_GE(length, c.lengthAtLeast) << c.item;
    }
    EXPECT_TRUE(form->ItemChecked(Id::MMenuItemUnlimited));
    EXPECT_FALSE(form->ItemChecked(Id::MMenuItem32KB));
}

TEST(LogBuffer, PauseHoldsLinesAndResumeShowsThem)
{
    ViewerHarness viewer;
    TForm1* form = viewer.form;
    form->StartSpying();
    viewer.ShowAll();
    form->OnClick(Id::ButtonPause);
    EXPECT_TRUE(form->Paused);
    EXPECT_EQ("Paused", viewer.StatusText(1));
    EXPECT_EQ("&Resume", viewer.WindowText(form->ButtonPause));
    EXPECT_FALSE(viewer.ItemEnabled(Id::MenuItemPause));
    EXPECT_TRUE(viewer.ItemEnabled(Id::MenuItemResume));
    EXPECT_STREQ("Resume|Continue the addition of new lines to the Log Buffer", form->HintOf(Id::SpeedButtonPause));
    EXPECT_STREQ("|Continue the addition of new lines to the Log Buffer", form->HintOf(Id::ButtonPause));

    std::string heldLines;
    for (int i = 0; i < 40; i++) {
        ASSERT_TRUE(form->AddMessageLine(Line('p', 100).c_str(), false));
        heldLines += Line('p', 100) + "\r\n";
    }
    EXPECT_FALSE(form->ShowNextBatch());
    EXPECT_EQ(Waiting, viewer.MemoText());
    // the timer started before the pause stops at its next tick
    for (int i = 0; i < 30; i++) {
        ProcessMessages(form);
        Sleep(10);
    }
    EXPECT_EQ(0u, form->DisplayTimer) << "no timer runs while paused";
    EXPECT_EQ(Waiting, viewer.MemoText());

    form->OnClick(Id::SpeedButtonPause);
    EXPECT_FALSE(form->Paused);
    EXPECT_EQ("Started", viewer.StatusText(1));
    EXPECT_EQ("&Pause", viewer.WindowText(form->ButtonPause));
    EXPECT_STREQ("Pause|Temporarily discontinue adding new lines to the Log Buffer", form->HintOf(Id::SpeedButtonPause));
    // every line at once, so nothing is left for a timer
    EXPECT_EQ(nullptr, form->PendingHead);
    EXPECT_EQ(Waiting + heldLines, viewer.MemoText());
    EXPECT_EQ(0u, form->DisplayTimer);

    // the next line starts the timer, whose tick shows it and stops
    ASSERT_TRUE(form->AddMessageLine("after the pause", false));
    EXPECT_NE(0u, form->DisplayTimer);
    DWORD deadline = GetTickCount() + 10000;
    while (form->DisplayTimer && GetTickCount() < deadline) {
        ProcessMessages(form);
        Sleep(10);
    }
    EXPECT_EQ(0u, form->DisplayTimer) << "the timer stops once the backlog is empty";
    EXPECT_EQ(nullptr, form->PendingHead);
    EXPECT_EQ(Waiting + heldLines + "after the pause\r\n", viewer.MemoText());
}

TEST(LogBuffer, LogFileOnlyKeepsUnforcedLinesOut)
{
    const char* logName = "display-logonly.txt";
    struct Case {
        const char* name;
        const char* logFile;
    } cases[] = {{"without a log file", ""}, {"with a log file", logName}};
    for (const Case& c : cases) {
        DeleteFileA(logName);
        ViewerHarness viewer;
        TForm1* form = viewer.form;
        SendMessageA(form->CheckBoxLogFileOnly, BM_SETCHECK, BST_CHECKED, 0);
        SetWindowTextA(form->EditLogFile, c.logFile);
        form->StartSpying();
        viewer.AcceptThisProcess();
        DWORD self = GetCurrentProcessId();
        EXPECT_EQ(0, viewer.SendRecord(self, SocketRecord(0, 0, "process attached")));
        EXPECT_EQ(0, viewer.SendRecord(self, SocketRecord(1, 40, "socket (40) created")));
        EXPECT_EQ(0, viewer.SendRecord(self, DataRecord(4, 40, 3, "abc", "socket (40) received 3 bytes")));
        EXPECT_EQ(0, viewer.SendRecord(self, DataRecord(4, 41, 2, "\x01\x02", "socket (41) received 2 bytes")));
        EXPECT_EQ(0, viewer.SendRecord(self, TextRecord("plain message")));
        EXPECT_EQ(0, viewer.SendRecord(self, SocketRecord(5, 0, "process detached")));
        viewer.ShowAll();
        EXPECT_EQ(Waiting + "process attached\r\nprocess detached\r\n" + Waiting, viewer.MemoText()) << c.name;
        EXPECT_EQ(1, form->SocketsCreated) << c.name;
        form->OnClick(Id::ButtonStop);
        EXPECT_EQ(Waiting + "process attached\r\nprocess detached\r\n" + Waiting + StoppedByUserText + "\r\n",
                  viewer.MemoText())
            << c.name;
        if (*c.logFile) {
            EXPECT_EQ(Waiting + "process attached\r\nsocket (40) created\r\n"
                                "socket (40) received 3 bytes (Incomplete last line)\r\nabc\r\n"
                                "socket (41) received 2 bytes\r\n"
                                "0000  01 02" + std::string(45, ' ') + ".." + std::string(14, ' ') + "\r\n"
                                "plain message\r\nprocess detached\r\n" + Waiting + StoppedByUserText + "\r\n",
                      ReadFileBytes(logName));
        }
    }
    DeleteFileA(logName);
}

TEST(LogBuffer, FullBacklogShowsBatchesBeforeTakingTheNextLine)
{
    ViewerHarness viewer;
    TForm1* form = viewer.form;
    form->OnClick(Id::MMenuItemBacklogSize1MB);
    EXPECT_EQ(1048576, form->BacklogSize);
    EXPECT_TRUE(form->ItemChecked(Id::MMenuItemBacklogSize1MB));
    form->StartSpying();
    viewer.ShowAll();
    // 1.5 MB of lines through a 1 MB heap without a timer tick: the heap fills and batches are
    // shown to make room
    std::string line = Line('f', 1000);
    int processHeapEntries = 0;
    for (int i = 0; i < 1500; i++) {
        ASSERT_TRUE(form->AddMessageLine(line.c_str(), false));
        processHeapEntries += form->PendingTail->Heap != form->BacklogHeap;
        ASSERT_LE(form->BacklogUsed, 1048576);
    }
    EXPECT_EQ(0, processHeapEntries) << "while not paused, room is made in the backlog heap";
    EXPECT_GT(form->LogBufferLength(), 30000) << "lines were shown to make room";
    viewer.ShowAll();
    EXPECT_EQ(0, form->BacklogUsed);

    // while paused nothing can be shown: the process heap takes the overflow
    form->Pause();
    for (int i = 0; i < 1500; i++)
        ASSERT_TRUE(form->AddMessageLine(line.c_str(), false));
    EXPECT_NE(form->PendingTail->Heap, form->BacklogHeap);
    EXPECT_GT(form->BacklogUsed, 1048576 / 2);
    form->OnClick(Id::MMenuItemClear);
    EXPECT_EQ(nullptr, form->PendingHead);
    EXPECT_EQ(0, form->BacklogUsed);
    EXPECT_EQ(0, form->LogBufferLength());
}

TEST(LogBuffer, BatchesBroughtInTogetherLeaveItAsOneAtATime)
{
    ViewerHarness viewer;
    TForm1* form = viewer.form;
    form->StartSpying();
    const int32_t kinds[] = {MessageLine, MessageLine, MessageLine, ErrorLine, StatusLine, DataLine};
    const struct {
        const char* name;
        UINT size;                 // the Size item
        const char* oddLine;       // a line the buffer does not count as it is long, or none
    } cases[] = {
        {"32 KB", Id::MMenuItem32KB, nullptr},
        {"32 KB, a lone line feed", Id::MMenuItem32KB, "a lone\nline feed"},
        {"32 KB, CR CR LF", Id::MMenuItem32KB, "ends in CR CR LF\r"},
        {"unlimited", Id::MMenuItemUnlimited, nullptr},
    };
    for (const auto& c : cases) {
        form->OnClick(c.size);
        std::string shown[2];
        int32_t mostWaiting = 0;
        for (int together = 0; together < 2; together++) {
            // the same lines each time: one batch at a time, then all brought in at the end
            form->OnClick(Id::MMenuItemClear);
            std::mt19937 random(7);
            for (int step = 0; step < 200; step++) {
                int lines = int(random() % 20) + 1;
                for (int i = 0; i < lines; i++) {
                    int32_t kind = kinds[random() % 6];
                    std::string line = Line(char('a' + random() % 26), int(random() % 100));
                    if (random() % 50 == 0)
                        line = Line('w', 3000);   // longer than a merged batch
                    if (c.oddLine && random() % 100 == 0)
                        line = c.oddLine;
                    ASSERT_TRUE(form->AddLine(line.c_str(), kind, false));
                }
                while (form->ShowNextBatch()) {
                    if (!together)
                        form->CatchUpLogBuffer();
                }
                int32_t waiting = 0;
                for (const ShownBatch* batch = form->ShownHead; batch; batch = batch->Next)
                    waiting += batch->Length;
                if (waiting > mostWaiting)
                    mostWaiting = waiting;
            }
            shown[together] = MemoRtf(form->Memo1);
            EXPECT_EQ(nullptr, form->ShownHead) << c.name << ": reading the log buffer brought the batches in";
        }
        EXPECT_EQ(shown[0], shown[1]) << c.name;
        EXPECT_GT(shown[0].size(), 10000u) << c.name;
        if (form->BufferSize == 32768 && !c.oddLine)
            // at most one batch (up to 1024 characters and then a 3000-character line) more than the size
            EXPECT_LE(mostWaiting, 32768 + 1024 + 3002) << "batches the buffer cannot hold are let go while they wait";
    }
}

TEST(LogBuffer, TheDisplayTickPaintsWhatAFullRepaintPaints)
{
    // The tick leaves the frame alone when the scroll bars have not moved; they must then look
    // as a full repaint would draw them.
    ViewerHarness viewer;
    TForm1* form = viewer.form;
    form->StartSpying();
    viewer.ShowAll();
    form->RefreshDisplay();
    const struct {
        const char* name;
        int lines;
        bool readBeforeTheTick;
    } steps[] = {
        {"the buffer grows and its bars move", 40, false},
        {"the buffer passes its size", 1000, false},
        {"a full buffer takes lines at its end", 13, false},
        {"and again, longer ones", 13, false},
        {"a read brings the lines in before the tick", 13, true},
        {"a line as wide as the buffer", 1, false},
    };
    int n = 0;
    for (const auto& step : steps) {
        for (int i = 0; i < step.lines; i++, n++) {
            int width = step.lines == 1 ? 300 : 20 + n % 60;
            ASSERT_TRUE(form->AddLine(Line(char('a' + n % 26), width).c_str(), n % 3 ? MessageLine : DataLine, false));
        }
        while (form->ShowNextBatch()) {
        }
        if (step.readBeforeTheTick)
            form->LogBufferLength();
        form->RefreshDisplay();
        std::vector<uint8_t> ticked = CaptureWindow(form->Memo1).rows;
        RedrawWindow(form->Memo1, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_UPDATENOW);
        EXPECT_TRUE(ticked == CaptureWindow(form->Memo1).rows) << step.name;
    }
}

TEST(LogBuffer, ABurstIsShownWholeAtTheNextTick)
{
    // Thousands of lines of alternating kinds wait; one tick leaves the log buffer as showing
    // their batches one after another does, colours and trimming included.
    ViewerHarness viewer;
    TForm1* form = viewer.form;
    form->StartSpying();
    form->FixedTickBudget = TForm1::NoBudget;
    const struct {
        const char* name;
        UINT size;
        const char* oddLine;   // a line the buffer does not count as it is long, or none
    } cases[] = {
        {"32 KB", Id::MMenuItem32KB, nullptr},
        {"128 KB", Id::MMenuItem128KB, nullptr},
        {"unlimited", Id::MMenuItemUnlimited, nullptr},
        {"32 KB, a lone line feed among the data", Id::MMenuItem32KB, "a lone\nline feed"},
        {"unlimited, a control character among the data", Id::MMenuItemUnlimited, "a \x01 control character"},
    };
    for (const auto& c : cases) {
        form->OnClick(c.size);
        std::string shown[2];
        for (int atTheTick = 0; atTheTick < 2; atTheTick++) {
            form->OnClick(Id::MMenuItemClear);
            FillSome(form);
            std::vector<BurstLine> burst = AddBurst(form, 1200, 11, c.oddLine);
            if (!atTheTick) {
                shown[0] = ShownOneBatchAtATime(form);
                continue;
            }
            ASSERT_NE(0u, form->DisplayTimer) << c.name;
            ASSERT_TRUE(RunOneTick(form)) << c.name;
            EXPECT_EQ(nullptr, form->PendingHead) << c.name << ": every waiting line was shown";
            EXPECT_EQ(nullptr, form->ShownHead) << c.name << ": and brought into the log buffer";
            EXPECT_EQ(0, form->BacklogUsed) << c.name;
            EXPECT_EQ(0u, form->DisplayTimer) << c.name << ": nothing is left for another tick";
            shown[1] = MemoRtf(form->Memo1);
            EXPECT_EQ(LastLine(burst.back().text), LastLine(viewer.MemoText())) << c.name;
        }
        EXPECT_EQ(shown[0], shown[1]) << c.name;
        EXPECT_GT(shown[0].size(), 30000u) << c.name;
    }
}

TEST(LogBuffer, OverItsBudgetATickShowsTheNewestLinesThatFit)
{
    // What does not fit the tick's budget is left out: the log buffer ends as if one line that
    // says so had come in place of the older lines of the burst.
    ViewerHarness viewer;
    TForm1* form = viewer.form;
    form->StartSpying();
    const int64_t budget = 20000;
    const std::string marker = std::string(SkippedLinesText) + "\r\n";
    const struct {
        const char* name;
        UINT size;
        const char* oddLine;
    } cases[] = {
        {"32 KB", Id::MMenuItem32KB, nullptr},
        {"unlimited", Id::MMenuItemUnlimited, nullptr},
        {"32 KB, a lone line feed among the data", Id::MMenuItem32KB, "a lone\nline feed"},
    };
    for (const auto& c : cases) {
        form->OnClick(c.size);
        form->OnClick(Id::MMenuItemClear);
        form->FixedTickBudget = TForm1::NoBudget;
        FillSome(form);
        form->FixedTickBudget = budget;
        std::vector<BurstLine> burst = AddBurst(form, 1200, 5, c.oddLine);
        ASSERT_TRUE(RunOneTick(form)) << c.name;
        EXPECT_EQ(nullptr, form->PendingHead) << c.name;
        EXPECT_EQ(nullptr, form->ShownHead) << c.name;
        std::string text = viewer.MemoText();
        std::string rtf = MemoRtf(form->Memo1);
        EXPECT_EQ(LastLine(burst.back().text), LastLine(text)) << c.name << ": the newest line is shown";
        size_t markerAt = text.find(marker);
        ASSERT_NE(std::string::npos, markerAt) << c.name;
        std::string newestShown = text.substr(markerAt + marker.size());
        EXPECT_LE(newestShown.size(), size_t(budget) - marker.size()) << c.name;
        if (c.oddLine) {
            // its batches go in one by one, so they are left out whole
            EXPECT_GT(newestShown.size(), size_t(budget) - marker.size() - 2000) << c.name;
            continue;
        }
        // the newest whole lines that fit, in their colours, after what the buffer held
        std::vector<BurstLine> newest = {{SkippedLinesText, StatusLine}};
        size_t length = marker.size();
        for (auto line = burst.rbegin(); line != burst.rend(); ++line) {
            length += line->text.size() + 2;
            if (length > size_t(budget))
                break;
            newest.insert(newest.begin() + 1, *line);
        }
        form->OnClick(Id::MMenuItemClear);
        form->FixedTickBudget = TForm1::NoBudget;
        FillSome(form);
        for (const BurstLine& line : newest)
            ASSERT_TRUE(form->AddLine(line.text.c_str(), line.kind, false));
        EXPECT_EQ(ShownOneBatchAtATime(form), rtf) << c.name;
        if (form->BufferSize < 0) {
            EXPECT_EQ(0u, text.find("present line 0\r\n")) << c.name << ": an unlimited buffer keeps its text";
        }
    }
}

TEST(LogBuffer, BatchesShownToMakeRoomWaitNoMoreThanATickCanBringIn)
{
    // A flood that fills the backlog between two ticks shows batches to make room; however large
    // the buffer, what waits for the log buffer stays within the budget, so anything that reads
    // it brings in no more than a tick would.
    ViewerHarness viewer;
    TForm1* form = viewer.form;
    form->OnClick(Id::MMenuItemBacklogSize1MB);
    form->OnClick(Id::MMenuItemUnlimited);
    form->StartSpying();
    viewer.ShowAll();
    form->CatchUpLogBuffer();
    const int64_t budget = 20000;
    form->FixedTickBudget = budget;
    std::string line = Line('m', 1000);
    int64_t mostWaiting = 0;
    for (int i = 0; i < 1500; i++) {
        ASSERT_TRUE(form->AddLine(line.c_str(), i % 2 ? MessageLine : DataLine, false));
        if (form->ShownLength > mostWaiting)
            mostWaiting = form->ShownLength;
    }
    EXPECT_GT(mostWaiting, budget) << "batches were shown to make room";
    EXPECT_LE(mostWaiting, 2 * budget + 1002) << "and cut to their newest text on the way";
    ASSERT_TRUE(form->AddMessageLine("the last line", false));
    form->HandleDisplayTimer();
    std::string text = viewer.MemoText();
    EXPECT_EQ("the last line", LastLine(text));
    EXPECT_EQ(0u, text.find(Waiting)) << "the buffer keeps its text";
    EXPECT_NE(std::string::npos, text.find(SkippedLinesText));
    EXPECT_LT(text.size(), size_t(2 * budget));
}

TEST(LogBuffer, ResumeAfterABurstCatchesUpAtOnce)
{
    ViewerHarness viewer;
    TForm1* form = viewer.form;
    form->OnClick(Id::MMenuItemBacklogSize1MB);
    form->StartSpying();
    form->FixedTickBudget = TForm1::NoBudget;
    // the same lines shown as they come
    FillSome(form);
    AddBurst(form, 1200, 3);
    std::string expected = ShownOneBatchAtATime(form);

    form->OnClick(Id::MMenuItemClear);
    FillSome(form);
    form->OnClick(Id::ButtonPause);
    std::vector<BurstLine> burst = AddBurst(form, 1200, 3);
    EXPECT_EQ(nullptr, form->ShownHead);
    form->OnClick(Id::ButtonPause);
    EXPECT_FALSE(form->Paused);
    EXPECT_EQ(nullptr, form->PendingHead);
    EXPECT_EQ(nullptr, form->ShownHead);
    EXPECT_EQ(expected, MemoRtf(form->Memo1));

    // a pause longer than the backlog holds: the rest waits in the process heap, and Resume at
    // the tick's own budget shows the newest of it
    form->FixedTickBudget = 0;
    form->OnClick(Id::ButtonPause);
    std::string line = Line('h', 200);
    int processHeapEntries = 0;
    for (int i = 0; i < 8000; i++) {
        ASSERT_TRUE(form->AddLine(line.c_str(), i % 2 ? DataLine : MessageLine, false));
        processHeapEntries += form->PendingTail->Heap != form->BacklogHeap;
    }
    ASSERT_TRUE(form->AddMessageLine("the last line", false));
    EXPECT_GT(processHeapEntries, 1000) << "the backlog heap was full";
    form->OnClick(Id::ButtonPause);
    EXPECT_EQ(nullptr, form->PendingHead);
    EXPECT_EQ(0, form->BacklogUsed);
    EXPECT_EQ("the last line", LastLine(viewer.MemoText()));
}
