// Log files written by a real main window during a capture, read back byte for byte.
#include "ViewerHarness.h"

#include "HtmlLog.h"

#include <cstring>

namespace {

const DWORD Self = GetCurrentProcessId();
const std::string Waiting = WaitingStatusText;

std::string Nbsp(int count)
{
    std::string text;
    for (int i = 0; i < count; i++)
        text += "&nbsp;";
    return text;
}

std::string Header()
{
    std::string text;
    for (size_t i = 0; i < HtmlHeaderLineCount; i++)
        text += std::string(HtmlHeaderLines[i]) + "\r\n";
    return text;
}

const char HtmlFooter[] = "</span>\r\n</body>\r\n</html>\r\n";

// Runs one capture into the named log file: the lines below, then Stop.
std::string CaptureInto(const char* name, bool withLines)
{
    DeleteFileA(name);
    ViewerHarness viewer;
    TForm1* form = viewer.form;
    SetWindowTextA(form->EditLogFile, name);
    form->StartSpying();
    viewer.AcceptThisProcess();
    if (withLines) {
        viewer.SendRecord(Self, TextRecord("a<b & c"));
        viewer.SendRecord(Self, TextRecord(std::string("\x01\xe9>") + "   three"));
        form->AddLine("x   y", DataLine, false);
        viewer.SendRecord(Self, DataRecord(4, 3, 2, "AB", "got 2"));
    }
    form->OnClick(Id::ButtonStop);
    EXPECT_FALSE(form->Started);
    EXPECT_EQ(nullptr, form->LogFile);
    return ReadFileBytes(name);
}

}  // namespace

TEST(LogFile, HtmlAndTextLogsOfACapture)
{
    const std::string row = "0000  41 42" + std::string(45, ' ') + "AB" + std::string(14, ' ');
    const std::string htmlRow = "0000 &nbsp;41 42 " + Nbsp(44) + "AB " + Nbsp(13);
    struct Case {
        const char* name;
        bool withLines;
        std::string expected;
    } cases[] = {
        {"capture.htm", false,
         Header() + "<span class=\"tsstart\">" + Waiting + "<br />\r\n</span><span class=\"tserror\">stopped by user<br />\r\n" +
             HtmlFooter},
        {"capture.HTML", true,
         Header() + "<span class=\"tsstart\">" + Waiting + "<br />\r\n</span><span class=\"tsmsg\">a&lt;b &amp; c<br />\r\n" +
             "\x01\xe9&gt; &nbsp;&nbsp;three<br />\r\n</span><span class=\"tsdata\">x &nbsp;&nbsp;y<br />\r\n"
             "</span><span class=\"tsmsg\">got 2<br />\r\n</span><span class=\"tsdata\">" + htmlRow + "<br />\r\n"
             "</span><span class=\"tserror\">stopped by user<br />\r\n" + HtmlFooter},
        {"capture.txt", true,
         Waiting + "\r\na<b & c\r\n\x01\xe9>   three\r\nx   y\r\ngot 2\r\n" + row + "\r\nstopped by user\r\n"},
        {"capture.htm.log", false, Waiting + "\r\nstopped by user\r\n"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.expected, CaptureInto(c.name, c.withLines)) << c.name;
    for (const Case& c : cases)
        DeleteFileA(c.name);
}

TEST(LogFile, AFileThatCannotBeCreatedFailsTheStart)
{
    ViewerHarness viewer;
    TForm1* form = viewer.form;
    SetWindowTextA(form->EditLogFile, "no-such-folder\\capture.txt");
    std::string message = "none";
    try {
        form->StartSpying();
    } catch (const ViewerError& error) {
        message = error.what();
    }
    EXPECT_EQ("could not create log file", message);
    EXPECT_FALSE(form->Started);
    EXPECT_EQ(nullptr, form->BacklogHeap);
    EXPECT_EQ(form->EditLogFile, GetFocus());
    EXPECT_TRUE(IsWindowEnabled(form->ButtonStart));

    // the next Start with a good name works
    SetWindowTextA(form->EditLogFile, "");
    form->StartSpying();
    EXPECT_TRUE(form->Started);
}

TEST(LogFile, MegabyteDumpsAndOddBytesKeepTheFileWhole)
{
    const char* name = "megabyte.txt";
    DeleteFileA(name);
    ViewerHarness viewer;
    TForm1* form = viewer.form;
    SetWindowTextA(form->EditLogFile, name);
    SendMessageA(form->CheckBoxLogFileOnly, BM_SETCHECK, BST_CHECKED, 0);
    form->HexOnly = true;
    form->StartSpying();
    viewer.AcceptThisProcess();
    std::string data(1048576, '\0');
    for (size_t i = 0; i < data.size(); i++)
        data[i] = char(i * 31 + 7);
    EXPECT_EQ(0, viewer.SendRecord(Self, DataRecord(4, 1, DWORD(data.size()), data, "got a megabyte")));
    std::string longLine(300000, 'L');
    EXPECT_EQ(0, viewer.SendRecord(Self, TextRecord(longLine)));
    form->OnClick(Id::ButtonStop);
    std::string file = ReadFileBytes(name);
    // 4096 rows with four offset digits, 61440 with five
    size_t dumpLength = 4096 * 74 + 61440 * 75;
    std::string head = Waiting + "\r\ngot a megabyte\r\n";
    ASSERT_EQ(head.size() + dumpLength + longLine.size() + 2 + 17, file.size());
    EXPECT_EQ("0000  07 26 45 64", file.substr(head.size(), 17));
    size_t lastRow = head.size() + dumpLength - 75;
    EXPECT_EQ("FFFF0  ", file.substr(lastRow, 7));
    EXPECT_EQ(longLine + "\r\nstopped by user\r\n", file.substr(head.size() + dumpLength));
    DeleteFileA(name);
}

namespace {

// Every '<', '>' and '&' after the header belongs to the markup the writer makes itself.
std::string FirstStrayMarkup(const std::string& html, size_t from)
{
    static const char* const tags[] = {"<span class=\"tsstart\">", "<span class=\"tsmsg\">", "<span class=\"tsdata\">",
                                       "<span class=\"tserror\">", "</span>", "<br />", "</body>", "</html>"};
    static const char* const entities[] = {"&lt;", "&gt;", "&amp;", "&nbsp;"};
    for (size_t i = from; i < html.size();) {
        size_t matched = 0;
        if (html[i] == '<') {
            for (const char* tag : tags)
                if (html.compare(i, strlen(tag), tag) == 0)
                    matched = strlen(tag);
        } else if (html[i] == '&') {
            for (const char* entity : entities)
                if (html.compare(i, strlen(entity), entity) == 0)
                    matched = strlen(entity);
        } else if (html[i] == '>') {
            matched = 0;
        } else {
            matched = 1;
        }
        if (matched == 0)
            return html.substr(i, 40);
        i += matched;
    }
    return "";
}

}  // namespace

TEST(LogFile, RecordsOfArbitraryBytesKeepTheHtmlWellFormed)
{
    const char* name = "arbitrary.htm";
    DeleteFileA(name);
    {
        ViewerHarness viewer;
        TForm1* form = viewer.form;
        SetWindowTextA(form->EditLogFile, name);
        form->StartSpying();
        viewer.AcceptThisProcess();
        uint32_t seed = 12345;
        auto next = [&seed] {
            seed = seed * 1103515245u + 12345u;
            return seed >> 8;
        };
        for (int i = 0; i < 300; i++) {
            std::string bytes(next() % 700, '\0');
            for (char& byte : bytes)
                byte = char(next() % 4 ? next() % 256 : " <>&\r\n\t"[next() % 7]);
            switch (next() % 4) {
            case 0: viewer.SendRecord(Self, TextRecord(bytes)); break;
            case 1: viewer.SendRecord(Self, SocketRecord(1, next() % 5, bytes)); break;
            case 2: viewer.SendRecord(Self, DataRecord(4, next() % 5, DWORD(bytes.size()), bytes, "data")); break;
            default: viewer.SendRecord(Self, bytes); break;   // not even a well-formed record
            }
            viewer.AcceptThisProcess();   // a stray "process detached" must not end the run
            if (i % 50 == 0)
                viewer.ShowAll();
        }
        viewer.ShowAll();
        EXPECT_TRUE(form->Started);
        form->OnClick(Id::ButtonStop);
    }
    std::string html = ReadFileBytes(name);
    ASSERT_EQ(0u, html.find(Header()));
    EXPECT_GT(html.size(), 100000u) << "the records reached the file";
    EXPECT_EQ("", FirstStrayMarkup(html, Header().size()));
    std::string ending = std::string("stopped by user<br />\r\n") + HtmlFooter;
    ASSERT_GE(html.size(), ending.size());
    EXPECT_EQ(ending, html.substr(html.size() - ending.size()));
    DeleteFileA(name);
}

// Lines are in the file, as another program reads it, as soon as their record is handled, in
// the middle of a burst of records and of the display's work.
TEST(LogFile, EachRecordsLinesAreInTheFileOnceItIsHandled)
{
    const char name[] = "at-once.txt";
    DeleteFileA(name);
    ViewerHarness viewer;
    TForm1* form = viewer.form;
    SetWindowTextA(form->EditLogFile, name);
    form->StartSpying();
    viewer.AcceptThisProcess();
    std::string expected = Waiting + "\r\n";
    EXPECT_EQ(expected, ReadFileBytes(name)) << "the status line of the Start";
    for (int i = 0; i < 300; i++) {
        std::string text = "record " + std::to_string(i);
        viewer.SendRecord(Self, TextRecord(text));
        expected += text + "\r\n";
        if (i % 50 == 49) {
            EXPECT_EQ(expected, ReadFileBytes(name)) << "after record " << i;
            form->HandleDisplayTimer();
        }
    }
    viewer.SendRecord(Self, DataRecord(4, 3, 2, "AB", "got 2"));
    expected += "got 2\r\n0000  41 42" + std::string(45, ' ') + "AB" + std::string(14, ' ') + "\r\n";
    EXPECT_EQ(expected, ReadFileBytes(name)) << "a data record's line and its dump";
    form->OnClick(Id::ButtonStop);
    EXPECT_EQ(expected + "stopped by user\r\n", ReadFileBytes(name));
    DeleteFileA(name);
}
