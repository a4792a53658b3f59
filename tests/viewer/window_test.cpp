// The main window as a user meets it: layout, running states, hints, edit commands, help and the
// About box; and a screenshot for a person to look at.
#include "ViewerHarness.h"

#include <commctrl.h>
#include <richedit.h>

#include <atomic>
#include <thread>
#include <vector>

#include "HelpFiles.h"
#include "Maker.h"

namespace {

RECT ChildRect(HWND parent, HWND child)
{
    RECT rect;
    GetWindowRect(child, &rect);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

struct DialogSeen {
    std::string title;
    std::vector<std::string> texts;
    RECT client = {};
    bool found = false;
};

BOOL CALLBACK CollectText(HWND child, LPARAM context)
{
    char text[4096] = "";
    char className[64] = "";
    GetClassNameA(child, className, sizeof className);
    if (lstrcmpiA(className, "RichEdit20A") == 0) {
        GETTEXTLENGTHEX query = {GTL_DEFAULT, CP_ACP};
        if (SendMessageA(child, EM_GETTEXTLENGTHEX, WPARAM(&query), 0) > 0)
            SendMessageA(child, WM_GETTEXT, sizeof text, LPARAM(text));
    } else {
        GetWindowTextA(child, text, sizeof text);
    }
    reinterpret_cast<DialogSeen*>(context)->texts.push_back(text);
    return TRUE;
}

struct DialogSearch {
    DWORD thread;
    HWND found;
};

BOOL CALLBACK FindDialog(HWND window, LPARAM context)
{
    auto* search = reinterpret_cast<DialogSearch*>(context);
    char className[64] = "";
    GetClassNameA(window, className, sizeof className);
    if (IsWindowVisible(window) && lstrcmpA(className, "#32770") == 0) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

// Runs action, which opens a modal dialog on this thread; a helper thread reads the dialog and
// answers it with the button given. Gives up after ten seconds.
DialogSeen ReadModalDialog(const std::function<void()>& action, int answer = IDOK)
{
    DialogSeen seen;
    DWORD uiThread = GetCurrentThreadId();
    std::thread reader([&] {
        for (int i = 0; i < 200; i++) {
            Sleep(50);
            DialogSearch search = {uiThread, nullptr};
            EnumThreadWindows(uiThread, FindDialog, LPARAM(&search));
            if (!search.found)
                continue;
            Sleep(200);   // let the dialog fill in its controls
            char title[256] = "";
            GetWindowTextA(search.found, title, sizeof title);
            seen.title = title;
            GetClientRect(search.found, &seen.client);
            EnumChildWindows(search.found, CollectText, LPARAM(&seen));
            seen.found = true;
            PostMessageA(search.found, WM_COMMAND, WPARAM(answer), 0);
            return;
        }
    });
    action();
    reader.join();
    return seen;
}

bool Contains(const std::vector<std::string>& texts, const std::string& needle)
{
    for (const std::string& text : texts)
        if (text.find(needle) != std::string::npos)
            return true;
    return false;
}

std::string ClipboardText()
{
    std::string text;
    if (!OpenClipboard(nullptr))
        return "(clipboard busy)";
    if (HANDLE data = GetClipboardData(CF_TEXT)) {
        text = static_cast<const char*>(GlobalLock(data));
        GlobalUnlock(data);
    }
    CloseClipboard();
    return text;
}

void PutOnClipboard(const std::string& text)
{
    ASSERT_TRUE(OpenClipboard(nullptr));
    EmptyClipboard();
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, text.size() + 1);
    memcpy(GlobalLock(memory), text.c_str(), text.size() + 1);
    GlobalUnlock(memory);
    SetClipboardData(CF_TEXT, memory);
    CloseClipboard();
}

struct EditState {
    bool undo, cut, copy, paste, selectAll;
};

EditState ReadEditState(ViewerHarness& viewer)
{
    viewer.form->UpdateEditCommands();
    EditState state = {viewer.ItemEnabled(Id::MenuItemUndo), viewer.ItemEnabled(Id::MenuItemCut),
                       viewer.ItemEnabled(Id::MenuItemCopy), viewer.ItemEnabled(Id::MenuItemPaste),
                       viewer.ItemEnabled(Id::MenuItemSelectAll)};
    // the tool buttons follow the menu items
    EXPECT_EQ(state.cut, bool(IsWindowEnabled(viewer.form->SpeedButtonCut)));
    EXPECT_EQ(state.copy, bool(IsWindowEnabled(viewer.form->SpeedButtonCopy)));
    EXPECT_EQ(state.paste, bool(IsWindowEnabled(viewer.form->SpeedButtonPaste)));
    return state;
}

std::string Describe(const EditState& state)
{
    std::string text;
    text += state.undo ? "Undo " : "-undo ";
    text += state.cut ? "Cut " : "-cut ";
    text += state.copy ? "Copy " : "-copy ";
    text += state.paste ? "Paste " : "-paste ";
    text += state.selectAll ? "SelectAll" : "-selectall";
    return text;
}

}  // namespace

TEST(MainWindow, LayoutStretchesWithTheWindow)
{
    ViewerHarness viewer;
    TForm1* form = viewer.form;
    char className[64] = "";
    GetClassNameA(form->Handle, className, sizeof className);
    EXPECT_STREQ("TForm1", className);
    EXPECT_EQ(form->Handle, FindWindowA("TForm1", "Kestrix"));
    for (int width : {633, 900}) {
        SetWindowPos(form->Handle, nullptr, 0, 0, width, 407 + (width - 633), SWP_NOMOVE | SWP_NOZORDER);
        RECT client;
        GetClientRect(form->Handle, &client);
        RECT memo = ChildRect(form->Handle, form->Memo1);
        EXPECT_EQ(10, memo.left) << width;
        EXPECT_EQ(156, memo.top) << width;
        EXPECT_EQ(client.right - 10, memo.right) << width;
        RECT status = ChildRect(form->Handle, form->StatusBar1);
        EXPECT_EQ(client.bottom, status.bottom) << width;
        EXPECT_EQ(status.top - 10, memo.bottom) << width;
        RECT gauge = ChildRect(form->Handle, form->ProgressBarBacklog);
        EXPECT_EQ(330, gauge.left) << width;
        EXPECT_EQ(111, gauge.top) << width;
        EXPECT_EQ(client.right - 40, gauge.right) << width;
        RECT counts = ChildRect(form->Handle, form->LabelTransSent);
        EXPECT_EQ(515, counts.left);
        EXPECT_EQ(70, counts.right - counts.left);
        EXPECT_TRUE(GetWindowLongA(form->LabelTransSent, GWL_STYLE) & SS_RIGHT);
    }
    int parts[3] = {};
    SendMessageA(form->StatusBar1, SB_GETPARTS, 3, LPARAM(parts));
    EXPECT_EQ(341, parts[0]);
    EXPECT_EQ(441, parts[1]);
    EXPECT_EQ("Stopped", viewer.StatusText(1));
    LOGFONTA font = {};
    GetObjectA(HFONT(SendMessageA(form->EditLogFile, WM_GETFONT, 0, 0)), sizeof font, &font);
    EXPECT_EQ(-11, font.lfHeight);
    CHARFORMAT2A memoFont = {};
    memoFont.cbSize = sizeof memoFont;
    SendMessageA(form->Memo1, EM_GETCHARFORMAT, SCF_DEFAULT, LPARAM(&memoFont));
    EXPECT_STREQ("Courier New", memoFont.szFaceName);
}

TEST(MainWindow, ControlsFollowTheRunningState)
{
    ViewerHarness viewer;
    TForm1* form = viewer.form;
    struct Control {
        const char* name;
        HWND window;
        UINT item;
        bool enabledWhileStarted;
    } controls[] = {
        {"CheckBoxLogFileOnly", form->CheckBoxLogFileOnly, 0, false},
        {"ButtonBrowse", form->ButtonBrowse, 0, false},
        {"ButtonStart", form->ButtonStart, 0, false},
        {"SpeedButtonStart", form->SpeedButtonStart, 0, false},
        {"MenuItemStart", nullptr, Id::MenuItemStart, false},
        {"ButtonStop", form->ButtonStop, 0, true},
        {"SpeedButtonStop", form->SpeedButtonStop, 0, true},
        {"MenuItemStop", nullptr, Id::MenuItemStop, true},
        {"ButtonPause", form->ButtonPause, 0, true},
        {"SpeedButtonPause", form->SpeedButtonPause, 0, true},
        {"MenuItemPause", nullptr, Id::MenuItemPause, true},
        {"MenuItemReset", nullptr, Id::MenuItemReset, true},
        {"MMenuItemBacklogSize1MB", nullptr, Id::MMenuItemBacklogSize1MB, false},
        {"MMenuItemBacklogSize10MB", nullptr, Id::MMenuItemBacklogSize10MB, false},
        {"MenuItemHexOnly", nullptr, Id::MenuItemHexOnly, false},
        {"MMenuItemLow", nullptr, Id::MMenuItemLow, false},
        {"MMenuItemHigh", nullptr, Id::MMenuItemHigh, false},
    };
    for (bool started : {false, true, false}) {
        if (started)
            form->OnClick(Id::SpeedButtonStart);
        else if (form->Started)
            form->OnClick(Id::MenuItemStop);
        ASSERT_EQ(started, form->Started);
        for (const Control& control : controls) {
            bool enabled = control.window ? bool(IsWindowEnabled(control.window)) : viewer.ItemEnabled(control.item);
            EXPECT_EQ(started == control.enabledWhileStarted, enabled) << control.name << " started " << started;
        }
        EXPECT_EQ(started, bool(GetWindowLongA(form->EditLogFile, GWL_STYLE) & ES_READONLY));
        EXPECT_EQ(started ? "Started" : "Stopped", viewer.StatusText(1));
        EXPECT_FALSE(viewer.ItemEnabled(Id::MenuItemResume));
        EXPECT_EQ(!started, bool(GetWindowLongA(form->ButtonStart, GWL_STYLE) & BS_DEFPUSHBUTTON));
    }
    // a Stop while paused leaves the pause display undone
    form->OnClick(Id::ButtonStart);
    form->OnClick(Id::MenuItemPause);
    EXPECT_EQ("&Resume", viewer.WindowText(form->ButtonPause));
    form->OnClick(Id::ButtonStop);
    EXPECT_EQ("&Pause", viewer.WindowText(form->ButtonPause));
    EXPECT_FALSE(form->Paused);
    EXPECT_EQ("Stopped", viewer.StatusText(1));
    EXPECT_STREQ("|Temporarily discontinue adding new lines to the Log Buffer", form->HintOf(Id::ButtonPause));
}

TEST(MainWindow, HintsGoToTheStatusBar)
{
    ViewerHarness viewer;
    TForm1* form = viewer.form;
    struct Case {
        const char* name;
        std::function<void()> act;
        const char* shown;
    } cases[] = {
        {"About item, trailing space kept",
         [&] { SendMessageA(form->Handle, WM_MENUSELECT, MAKEWPARAM(Id::MenuItemAbout, MF_STRING), LPARAM(form->MainMenu1)); },
         "Display program information and version number "},
        {"Update Interval item, trailing space kept",
         [&] { SendMessageA(form->Handle, WM_MENUSELECT, MAKEWPARAM(Id::MMenuItem125ms, MF_STRING), LPARAM(form->MainMenu1)); },
         "How often to add new lines to Log Buffer "},
        {"Detail Low",
         [&] { SendMessageA(form->Handle, WM_MENUSELECT, MAKEWPARAM(Id::MMenuItemLow, MF_STRING), LPARAM(form->MainMenu1)); },
         "Log all socket calls except those that transfer data"},
        {"menu closed", [&] { SendMessageA(form->Handle, WM_MENUSELECT, MAKEWPARAM(0, 0xFFFF), 0); }, ""},
        {"mouse over the Stop tool button",
         [&] {
             MSG message = {form->SpeedButtonStop, WM_MOUSEMOVE, 0, MAKELPARAM(3, 3), 0, {}};
             DispatchApplicationMessage(form, message);
         },
         "Stop waiting for a process to spy or spying a process"},
        {"mouse over the Start button",
         [&] {
             MSG message = {form->ButtonStart, WM_MOUSEMOVE, 0, MAKELPARAM(3, 3), 0, {}};
             DispatchApplicationMessage(form, message);
         },
         "Wait for a process to spy"},
        {"mouse over the disabled Pause button, found by its parent",
         [&] {
             RECT pause = ChildRect(form->Handle, form->ButtonPause);
             MSG message = {form->Handle, WM_MOUSEMOVE, 0, MAKELPARAM(pause.left + 3, pause.top + 3), 0, {}};
             DispatchApplicationMessage(form, message);
         },
         "Temporarily discontinue adding new lines to the Log Buffer"},
        {"mouse over the log buffer, which has no hint",
         [&] {
             MSG message = {form->Memo1, WM_MOUSEMOVE, 0, MAKELPARAM(3, 3), 0, {}};
             DispatchApplicationMessage(form, message);
         },
         ""},
        {"a hint without a bar is shown whole", [&] { form->ShowLongHint("Quits the application"); },
         "Quits the application"},
    };
    for (const Case& c : cases) {
        form->SetStatusText(0, "junk");
        c.act();
        EXPECT_EQ(c.shown, viewer.StatusText(0)) << c.name;
    }
}

TEST(MainWindow, EditCommandsFollowTheFocusedControl)
{
    ViewerHarness viewer;
    TForm1* form = viewer.form;
    SetForegroundWindow(form->Handle);
    PutOnClipboard("pasted.txt");

    // the log buffer: read-only, copy and select all only
    form->StartSpying();
    form->Clear();
    form->AddMessageLine("hello", false);
    form->AddMessageLine("world", false);
    viewer.ShowAll();
    SetFocus(form->Memo1);
    ASSERT_EQ(form->Memo1, GetFocus());
    SendMessageA(form->Memo1, EM_SETSEL, 0, 0);
    EXPECT_EQ("-undo -cut -copy -paste SelectAll", Describe(ReadEditState(viewer))) << "memo, no selection";
    form->OnClick(Id::MenuItemSelectAll);
    EXPECT_EQ("-undo -cut Copy -paste -selectall", Describe(ReadEditState(viewer))) << "memo, all selected";
    SendMessageA(form->Memo1, EM_SETSEL, 0, 5);
    form->OnClick(Id::MenuItemCopy);
    EXPECT_EQ("hello", ClipboardText());
    form->OnPopup();
    EXPECT_TRUE(viewer.ItemEnabled(Id::MenuCopy));
    EXPECT_TRUE(viewer.ItemEnabled(Id::MenuSelectAll));

    // the log file box during a capture: read-only
    SetWindowTextA(form->EditLogFile, "capture.txt");
    SetFocus(form->EditLogFile);
    SendMessageA(form->EditLogFile, EM_SETSEL, 0, -1);
    EXPECT_EQ("-undo -cut Copy -paste -selectall", Describe(ReadEditState(viewer))) << "read-only log file box";
    form->OnClick(Id::SpeedButtonCopy);
    EXPECT_EQ("capture.txt", ClipboardText());
    EXPECT_EQ(form->EditLogFile, GetFocus()) << "a tool button leaves the focus where it was";
    form->OnClick(Id::ButtonStop);

    // stopped: the box is editable
    SetFocus(form->EditLogFile);
    SendMessageA(form->EditLogFile, EM_SETSEL, 0, 7);
    EXPECT_EQ("-undo Cut Copy Paste SelectAll", Describe(ReadEditState(viewer))) << "editable box, part selected";
    form->OnClick(Id::SpeedButtonCut);
    EXPECT_EQ(".txt", viewer.WindowText(form->EditLogFile));
    EXPECT_EQ("capture", ClipboardText());
    EXPECT_TRUE(ReadEditState(viewer).undo) << "a cut can be undone";
    form->OnClick(Id::MenuItemUndo);
    EXPECT_EQ("capture.txt", viewer.WindowText(form->EditLogFile));
    SendMessageA(form->EditLogFile, EM_SETSEL, 0, -1);
    form->OnClick(Id::MenuItemPaste);
    EXPECT_EQ("capture", viewer.WindowText(form->EditLogFile));

    // a control that is neither: nothing applies
    SetFocus(form->ButtonBrowse);
    EXPECT_EQ("-undo -cut -copy -paste -selectall", Describe(ReadEditState(viewer))) << "focus on a button";

    form->Clear();
    form->OnPopup();
    EXPECT_FALSE(viewer.ItemEnabled(Id::MenuCopy));
    EXPECT_FALSE(viewer.ItemEnabled(Id::MenuSelectAll));
}

TEST(MainWindow, HelpAlwaysShowsSomething)
{
    ViewerHarness viewer;
    TForm1* form = viewer.form;
    ASSERT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(UserGuidePath().c_str())) << UserGuidePath();
    ASSERT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(HelpFilePath().c_str()));

    DialogSeen guide = ReadModalDialog([&] { form->OnClick(Id::MenuItemContents); });
    ASSERT_TRUE(guide.found);
    EXPECT_EQ("Kestrix Help", guide.title);
    EXPECT_TRUE(Contains(guide.texts, "Kestrix User Guide")) << "the guide's text is shown";

    std::string moved = UserGuidePath() + ".moved";
    ASSERT_TRUE(MoveFileA(UserGuidePath().c_str(), moved.c_str()));
    HelpOutcome outcome = HelpOutcome::HelpFile;
    DialogSeen message = ReadModalDialog([&] { outcome = OpenHelpContents(form->Handle); });
    MoveFileA(moved.c_str(), UserGuidePath().c_str());
    EXPECT_EQ(HelpOutcome::Message, outcome);
    ASSERT_TRUE(message.found);
    EXPECT_EQ("Kestrix", message.title);
    EXPECT_TRUE(Contains(message.texts, HelpMissingText));
    EXPECT_TRUE(Contains(message.texts, UserGuidePath())) << "the message says where the guide belongs";
}

TEST(MainWindow, AboutBox)
{
    ViewerHarness viewer;
    DialogSeen about = ReadModalDialog([&] { viewer.form->OnClick(Id::MenuItemAbout); });
    ASSERT_TRUE(about.found);
    EXPECT_EQ("About Kestrix", about.title);
    EXPECT_EQ(285, about.client.right);
    EXPECT_EQ(177, about.client.bottom);
    for (const char* text : {"Kestrix", "Version 2.10", "Close", MakerName, MakerHomePage})
        EXPECT_TRUE(Contains(about.texts, text)) << text;
    EXPECT_TRUE(IsWindowEnabled(viewer.form->Handle)) << "the window is usable again once the box closed";
}

TEST(MainWindow, StartFailuresCloseQueryAndBrowse)
{
    ViewerHarness viewer;
    TForm1* form = viewer.form;
    SetWindowTextA(form->EditLogFile, "no-such-folder\\capture.txt");
    DialogSeen failure = ReadModalDialog([&] { form->OnClick(Id::ButtonStart); });
    ASSERT_TRUE(failure.found);
    EXPECT_EQ("Kestrix", failure.title);
    EXPECT_TRUE(Contains(failure.texts, "could not create log file"));
    EXPECT_FALSE(form->Started);

    SetWindowTextA(form->EditLogFile, "closing.txt");
    form->OnClick(Id::ButtonStart);
    ASSERT_TRUE(form->Started);
    DialogSeen refused = ReadModalDialog([&] { SendMessageA(form->Handle, WM_CLOSE, 0, 0); }, IDNO);
    ASSERT_TRUE(refused.found);
    EXPECT_TRUE(Contains(refused.texts, "Do you want to stop processing and exit?"));
    EXPECT_TRUE(IsWindow(form->Handle)) << "No keeps the window";
    EXPECT_TRUE(form->Started);
    DialogSeen accepted = ReadModalDialog([&] { SendMessageA(form->Handle, WM_CLOSE, 0, 0); }, IDYES);
    ASSERT_TRUE(accepted.found);
    EXPECT_FALSE(IsWindow(form->Handle)) << "Yes closes the window";
    EXPECT_FALSE(form->Started);
    EXPECT_EQ(std::string(WaitingStatusText) + "\r\n" + StoppedByUserText + "\r\n", ReadFileBytes("closing.txt"));
    DeleteFileA("closing.txt");
}

TEST(MainWindow, BrowseOffersTheLogFileName)
{
    ViewerHarness viewer;
    TForm1* form = viewer.form;
    SetWindowTextA(form->EditLogFile, "browsed.htm");
    DialogSeen browse = ReadModalDialog([&] { form->OnClick(Id::ButtonBrowse); });
    ASSERT_TRUE(browse.found);
    EXPECT_EQ("Browse", browse.title);
    std::string chosen = viewer.WindowText(form->EditLogFile);
    ASSERT_GE(chosen.size(), 11u);
    EXPECT_EQ("browsed.htm", chosen.substr(chosen.size() - 11)) << chosen;
    EXPECT_EQ(form->EditLogFile, GetFocus());
}

TEST(MainWindow, Screenshot)
{
    ViewerHarness viewer;
    TForm1* form = viewer.form;
    form->OnClick(Id::MMenuItemShowBacklog);
    SetWindowTextA(form->EditLogFile, "screenshot-capture.htm");
    form->StartSpying();
    viewer.AcceptThisProcess();
    DWORD self = GetCurrentProcessId();
    viewer.SendRecord(self, SocketRecord(0, 0, "process attached: c:\\samples\\http_client.exe"));
    viewer.SendRecord(self, SocketRecord(1, 120, "socket (120) created: AF_INET, SOCK_STREAM, IPPROTO_TCP"));
    viewer.SendRecord(self, TextRecord("socket (120) connecting to 127.0.0.1:8080 synchronously"));
    std::string request = "GET /index.html HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
    viewer.SendRecord(self, DataRecord(3, 120, DWORD(request.size()), request, "socket (120) sent 45 bytes of data"));
    std::string reply = std::string("HTTP/1.0 200 OK\r\nContent-Type: image/png\r\n\r\n\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 59);
    viewer.SendRecord(self, DataRecord(4, 120, DWORD(reply.size()), reply, "socket (120) received 59 bytes of data"));
    viewer.SendRecord(self, SocketRecord(2, 120, "socket (120) closed"));
    viewer.ShowAll();
    form->OnClick(Id::MenuItemPause);
    for (int i = 0; i < 5000; i++)
        form->AddMessageLine("a line waiting in the backlog", false);
    for (int i = 0; i < 20; i++) {
        ProcessMessages(form);
        Sleep(20);
    }
    form->HintChanged("|Wait for a process to spy");
    RedrawWindow(form->Handle, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    Sleep(200);

    WindowImage image = CaptureWindow(form->Handle);
    ASSERT_FALSE(image.rows.empty());
    DWORD imageSize = DWORD(image.rows.size());
    BITMAPFILEHEADER header = {0x4D42, DWORD(sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER) + imageSize), 0, 0,
                               DWORD(sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER))};
    CreateDirectoryA("..\\screenshots", nullptr);
    FILE* file = fopen("..\\screenshots\\viewer-main.bmp", "wb");
    ASSERT_NE(nullptr, file);
    fwrite(&header, sizeof header, 1, file);
    fwrite(&image.header, sizeof image.header, 1, file);
    fwrite(image.rows.data(), 1, imageSize, file);
    fclose(file);
    form->DiscardEntries();
    form->StopSpying(false);
    DeleteFileA("screenshot-capture.htm");
}
