// Records sent to a real main window as a traced process sends them: counters, the line for each
// kind, and data shown as text lines or hex dumps by socket and detail level.
#include "ViewerHarness.h"

#include "LogRecord.h"

namespace {

const std::string Waiting = std::string(WaitingStatusText) + "\r\n";
const DWORD Self = GetCurrentProcessId();

std::string HexRow(const std::string& prefix, int blanks, const std::string& chars)
{
    return prefix + std::string(size_t(blanks), ' ') + chars;
}

// A started viewer that treats this process as the traced one, with its log buffer cleared.
struct Capture {
    ViewerHarness viewer;
    TForm1* form;

    explicit Capture(int detail = 2, bool hexOnly = false)
    {
        form = viewer.form;
        form->Detail = detail;
        form->HexOnly = hexOnly;
        form->StartSpying();
        viewer.AcceptThisProcess();
        viewer.ShowAll();
        form->Clear();
    }

    std::string Shown()
    {
        viewer.ShowAll();
        std::string text = viewer.MemoText();
        form->Clear();
        return text;
    }

    void Send(const std::string& record) { EXPECT_EQ(0, viewer.SendRecord(Self, record)); }
};

}  // namespace

TEST(Records, DataIsShownAsTextOrHexBySocket)
{
    const std::string received = "socket (7) received";
    struct Step {
        const char* name;
        DWORD socket;
        std::string data;
        std::string shown;
    } steps[] = {
        {"three letters, no line end: incomplete, socket 7 becomes text", 7, "abc",
         received + " (Incomplete last line)\r\nabc\r\n"},
        {"text socket, all text", 7, "one\r\ntwo\n", received + "\r\none\r\ntwo\r\n"},
        {"text socket, one non-text byte: all in hex", 7, std::string("ok\n\x01", 4),
         received + "\r\n" + HexRow("0000  6F 6B 0A 01", 39, "ok..") + std::string(12, ' ') + "\r\n"},
        {"the socket stays text", 7, "again\n", received + "\r\nagain\r\n"},
        {"first byte NUL: socket 8 becomes binary", 8, std::string("\0AB", 3),
         received + "\r\n" + HexRow("0000  00 41 42", 42, ".AB") + std::string(13, ' ') + "\r\n"},
        {"binary socket: text in hex", 8, "hi\n",
         received + "\r\n" + HexRow("0000  68 69 0A", 42, "hi.") + std::string(13, ' ') + "\r\n"},
        {"text then non-text on a new socket, not HTTP: all hex, binary", 9, std::string("ab\n\xff", 4),
         received + "\r\n" + HexRow("0000  61 62 0A FF", 39, "ab..") + std::string(12, ' ') + "\r\n"},
        {"socket 9 stays binary", 9, "ab\n",
         received + "\r\n" + HexRow("0000  61 62 0A", 42, "ab.") + std::string(13, ' ') + "\r\n"},
        {"untracked socket: hex", 99, "text\n",
         received + "\r\n" + HexRow("0000  74 65 78 74 0A", 36, "text.") + std::string(11, ' ') + "\r\n"},
    };
    Capture capture;
    for (DWORD socket : {7u, 8u, 9u})
        capture.Send(SocketRecord(1, socket, ""));
    EXPECT_EQ("", capture.Shown());
    for (const Step& step : steps) {
        capture.Send(DataRecord(4, step.socket, DWORD(step.data.size()), step.data, received));
        EXPECT_EQ(step.shown, capture.Shown()) << step.name;
    }
    TrackedSocket* seven = capture.form->FindTrackedSocket(7);
    ASSERT_NE(nullptr, seven);
    EXPECT_EQ(ModeText, seven->Mode);
    EXPECT_EQ(ModeBinary, capture.form->FindTrackedSocket(8)->Mode);
    capture.Send(SocketRecord(2, 8, "closed"));
    EXPECT_EQ(nullptr, capture.form->FindTrackedSocket(8));
    EXPECT_NE(nullptr, capture.form->FindTrackedSocket(9));
}

TEST(Records, HttpResponseShowsItsHeaderAsTextAndTheBodyInHex)
{
    Capture capture;
    capture.Send(SocketRecord(1, 20, ""));
    capture.Shown();
    std::string request = "GET /index.html HTTP/1.0\r\n\r\n";
    capture.Send(DataRecord(3, 20, DWORD(request.size()), request, "sent"));
    EXPECT_EQ("sent\r\nGET /index.html HTTP/1.0\r\n\r\n", capture.Shown());
    EXPECT_TRUE(capture.form->FindTrackedSocket(20)->IsHttp);

    std::string header = "HTTP/1.0 200 OK\r\nContent-Length: 3\r\n\r\n";
    std::string response = header + std::string("\x89PN", 3);
    capture.Send(DataRecord(4, 20, DWORD(response.size()), response, "received"));
    char offset[8];
    snprintf(offset, sizeof offset, "%04X", unsigned(header.size()));
    EXPECT_EQ("received\r\nHTTP/1.0 200 OK\r\nContent-Length: 3\r\n\r\n" +
                  HexRow(std::string(offset) + "  89 50 4E", 42, ".PN") + std::string(13, ' ') + "\r\n",
              capture.Shown());

    // later data that is neither all text nor a response goes to hex whole
    std::string more = std::string("x\n\x02", 3);
    capture.Send(DataRecord(4, 20, DWORD(more.size()), more, "received"));
    EXPECT_EQ("received\r\n" + HexRow("0000  78 0A 02", 42, "x..") + std::string(13, ' ') + "\r\n", capture.Shown());
}

TEST(Records, DetailLevelsAndHexOnly)
{
    struct Case {
        const char* name;
        int detail;
        bool hexOnly;
        std::string shown;
    } cases[] = {
        {"Low: nothing", 0, false, ""},
        {"Medium: the text line only", 1, false, "sent 4\r\n"},
        {"High: text lines", 2, false, "sent 4\r\nabc\r\n"},
        {"High, Hex Only: hex", 2, true,
         "sent 4\r\n" + HexRow("0000  61 62 63 0A", 39, "abc.") + std::string(12, ' ') + "\r\n"},
        {"Detail 7 acts as High, without tracking", 7, false,
         "sent 4\r\n" + HexRow("0000  61 62 63 0A", 39, "abc.") + std::string(12, ' ') + "\r\n"},
    };
    for (const Case& c : cases) {
        Capture capture(c.detail, c.hexOnly);
        capture.Send(SocketRecord(1, 5, ""));
        capture.Send(DataRecord(3, 5, 4, "abc\n", "sent 4"));
        EXPECT_EQ(c.shown, capture.Shown()) << c.name;
        EXPECT_EQ(4, capture.form->BytesSent) << c.name;
        EXPECT_EQ("4", capture.viewer.WindowText(capture.form->LabelTransSent)) << c.name;
    }
}

TEST(Records, NothingIsReadBeyondTheRecord)
{
    Capture capture;
    // a count larger than the bytes carried, as for transmitted files: only those bytes show
    capture.Send(DataRecord(3, 66, 1000000, "xyz", "socket (66) sent 1000000 bytes"));
    EXPECT_EQ("socket (66) sent 1000000 bytes\r\n" + HexRow("0000  78 79 7A", 42, "xyz") + std::string(13, ' ') + "\r\n",
              capture.Shown());
    EXPECT_EQ("1,000,000", capture.viewer.WindowText(capture.form->LabelTransSent));

    // no bytes at all: the text line only
    capture.Send(DataRecord(4, 66, 4096, "", "socket (66) received 4096 bytes"));
    EXPECT_EQ("socket (66) received 4096 bytes\r\n", capture.Shown());

    // a payload length beyond the message is dropped whole; a text without its NUL is cut at the
    // message's end
    std::string truncated = DataRecord(4, 66, 8, "ABCDEFGH", "");
    truncated.resize(truncated.size() - 4);
    capture.Send(truncated);
    EXPECT_EQ("", capture.Shown());
    EXPECT_EQ("4,096", capture.viewer.WindowText(capture.form->LabelTransRecvd));
    std::string unterminated = TextRecord("no terminator");
    unterminated.pop_back();
    capture.Send(unterminated);
    EXPECT_EQ("no terminator\r\n", capture.Shown());
    capture.Send(std::string("\x05\x00", 2));   // shorter than its length word
    capture.Send(std::string("\xff\xff\xff\x7f", 4) + "x");
    EXPECT_EQ("", capture.Shown());
}

TEST(Records, SendersCountersAndProcessLines)
{
    Capture capture;
    TForm1* form = capture.form;
    // a record from another process while one is traced: told to stop, nothing added
    EXPECT_EQ(1, capture.viewer.SendRecord(Self + 4, TextRecord("intruder")));
    EXPECT_EQ("", capture.Shown());

    capture.Send(std::string("\0\0\0\0", 4));
    EXPECT_EQ("", capture.Shown()) << "a record without payload or text adds nothing";

    for (int i = 0; i < 1002; i++)
        capture.Send(SocketRecord(1, DWORD(1000 + i), ""));
    for (int i = 0; i < 3; i++)
        capture.Send(SocketRecord(2, DWORD(1000 + i), ""));
    capture.Send(DataRecord(4, 1000, 2147483647u, "", ""));
    capture.Send(DataRecord(4, 1000, 2, "", ""));
    struct Label {
        HWND label;
        const char* text;
    } labels[] = {
        {form->LabelSCreated, "1,002"}, {form->LabelSClosed, "3"}, {form->LabelSCurrent, "999"},
        {form->LabelTransRecvd, "-2,147,483,647"}, {form->LabelTransSent, "0"},
    };
    for (const Label& label : labels)
        EXPECT_EQ(label.text, capture.viewer.WindowText(label.label));

    form->OnClick(Id::MenuItemReset);
    EXPECT_EQ("0", capture.viewer.WindowText(form->LabelTransRecvd));
    EXPECT_EQ("1,002", capture.viewer.WindowText(form->LabelSCreated)) << "Reset keeps the socket counts";
    capture.Shown();

    SendMessageA(form->CheckBoxLogFileOnly, BM_SETCHECK, BST_CHECKED, 0);
    capture.Send(SocketRecord(0, 0, "process attached"));
    capture.Send(SocketRecord(5, 0, "process detached"));
    EXPECT_EQ("process attached\r\nprocess detached\r\n" + Waiting, capture.Shown());
    EXPECT_TRUE(form->WaitingForProcess);

    // stopped: records are dropped with 0
    form->OnClick(Id::ButtonStop);
    EXPECT_EQ(0, capture.viewer.SendRecord(Self, TextRecord("late")));
    EXPECT_EQ(std::string(StoppedByUserText) + "\r\n", capture.Shown());
}

// A burst of records: each label reads its count as soon as the record has been handled, and the
// control is given that text itself, to paint, at the next display tick; no text goes astray.
TEST(Records, CounterLabelsReadRightAtOnceAndShowItAtTheTick)
{
    Capture capture;
    TForm1* form = capture.form;
    for (DWORD socket = 100; socket < 150; socket++) {
        capture.Send(SocketRecord(RecordSocketCreated, socket, ""));
        capture.Send(DataRecord(RecordDataSent, socket, 1000, "", ""));
    }
    capture.Send(SocketRecord(RecordSocketClosed, 100, ""));
    const struct {
        HWND label;
        const char* count;
    } labels[] = {{form->LabelSCreated, "50"}, {form->LabelSClosed, "1"}, {form->LabelSCurrent, "49"},
                  {form->LabelTransRecvd, "0"}, {form->LabelTransSent, "50,000"}};
    auto ownText = [](HWND label) {   // what the control paints: its own text, past the label's answer
        char text[32] = "";
        DefWindowProcA(label, WM_GETTEXT, sizeof text, LPARAM(text));
        return std::string(text);
    };
    for (const auto& row : labels) {
        EXPECT_EQ(row.count, capture.viewer.WindowText(row.label));
        EXPECT_EQ(LRESULT(strlen(row.count)), SendMessageA(row.label, WM_GETTEXTLENGTH, 0, 0));
        char cut[3] = "";
        EXPECT_EQ(LRESULT(strlen(row.count) < 2 ? strlen(row.count) : 2),
                  SendMessageA(row.label, WM_GETTEXT, sizeof cut, LPARAM(cut)));
        EXPECT_EQ(std::string(row.count).substr(0, 2), cut) << "a short buffer gets the text cut, with its NUL";
    }
    EXPECT_NE("50", ownText(form->LabelSCreated)) << "the control has not been given the count yet";

    DWORD deadline = GetTickCount() + 5000;
    while (form->LabelsChanged() && GetTickCount() < deadline) {
        ProcessMessages(form);
        Sleep(10);
    }
    for (const auto& row : labels) {
        EXPECT_EQ(row.count, ownText(row.label)) << "given at the tick";
        EXPECT_EQ(row.count, capture.viewer.WindowText(row.label));
        EXPECT_EQ(nullptr, form->PendingLabelText(row.label));
    }
}
