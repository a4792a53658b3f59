#include "ViewerHarness.h"

#include <commctrl.h>
#include <richedit.h>

#include <fstream>
#include <sstream>

#include "LogRecord.h"

void DeleteSettings()
{
    RegDeleteKeyA(HKEY_CURRENT_USER, TestSettingsKey);
}

ViewerHarness::ViewerHarness(const std::function<void()>& prepare)
{
    DeleteSettings();
    if (prepare)
        prepare();
    form = TForm1::Create(GetModuleHandleA(nullptr));
    // How much a display tick brings in depends on how fast this machine's rich edit has been;
    // tests of other things see every line, and those of the budget set one.
    form->FixedTickBudget = TForm1::NoBudget;
    ShowWindow(form->Handle, SW_SHOW);
    UpdateWindow(form->Handle);
}

ViewerHarness::~ViewerHarness()
{
    if (form->Started) {
        form->DiscardEntries();
        form->StopSpying(false);
    }
    delete form;
    DeleteSettings();
}

std::string ViewerHarness::MemoText() const
{
    GETTEXTLENGTHEX query = {GTL_USECRLF | GTL_PRECISE | GTL_NUMBYTES, CP_ACP};
    LRESULT length = SendMessageA(form->Memo1, EM_GETTEXTLENGTHEX, WPARAM(&query), 0);
    std::string text(size_t(length) + 1, '\0');
    GETTEXTEX get = {DWORD(text.size()), GT_USECRLF, CP_ACP, nullptr, nullptr};
    LRESULT copied = SendMessageA(form->Memo1, EM_GETTEXTEX, WPARAM(&get), LPARAM(text.data()));
    text.resize(size_t(copied));
    return text;
}

COLORREF ViewerHarness::ColorOf(int start, int length) const
{
    SendMessageA(form->Memo1, EM_SETSEL, start, start + length);
    CHARFORMAT2A format = {};
    format.cbSize = sizeof format;
    SendMessageA(form->Memo1, EM_GETCHARFORMAT, SCF_SELECTION, LPARAM(&format));
    SendMessageA(form->Memo1, EM_SETSEL, WPARAM(-1), LPARAM(-1));
    if (!(format.dwMask & CFM_COLOR))
        return 0xFFFFFFFF;
    return (format.dwEffects & CFE_AUTOCOLOR) ? 0 : format.crTextColor;
}

int ViewerHarness::ShowAll()
{
    int batches = 0;
    while (form->ShowNextBatch())
        batches++;
    return batches;
}

std::string ViewerHarness::StatusText(int panel) const
{
    char text[512] = "";
    SendMessageA(form->StatusBar1, SB_GETTEXTA, panel, LPARAM(text));
    return text;
}

std::string ViewerHarness::WindowText(HWND window) const
{
    char text[512] = "";
    GetWindowTextA(window, text, sizeof text);
    return text;
}

bool ViewerHarness::ItemEnabled(UINT id) const
{
    HMENU menu = id >= Id::MenuCopy && id < Id::SpeedButtonCut ? form->PopupMenu1 : form->MainMenu1;
    return !(GetMenuState(menu, id, MF_BYCOMMAND) & (MF_GRAYED | MF_DISABLED));
}

LRESULT ViewerHarness::SendRecord(DWORD processId, const std::string& record)
{
    COPYDATASTRUCT data = {processId, DWORD(record.size()), const_cast<char*>(record.data())};
    return SendMessageA(form->Handle, WM_COPYDATA, 0, LPARAM(&data));
}

void ViewerHarness::AcceptThisProcess()
{
    form->WaitingForProcess = false;
    form->SpiedProcessId = GetCurrentProcessId();
}

namespace {

std::string Word(DWORD value)
{
    return std::string(reinterpret_cast<const char*>(&value), 4);
}

}  // namespace

std::string TextRecord(const std::string& text)
{
    return Word(0) + text + '\0';
}

std::string SocketRecord(DWORD kind, DWORD socket, const std::string& text)
{
    return Word(8) + Word(kind) + Word(socket) + (text.empty() ? std::string() : text + '\0');
}

std::string DataRecord(DWORD kind, DWORD socket, DWORD count, const std::string& data, const std::string& text)
{
    std::string payload = Word(kind) + Word(socket) + Word(count) + data;
    return Word(DWORD(payload.size())) + payload + (text.empty() ? std::string() : text + '\0');
}

std::string ReadFileBytes(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::stringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
}

WindowImage CaptureWindow(HWND window)
{
    RECT frame;
    GetWindowRect(window, &frame);
    int width = frame.right - frame.left, height = frame.bottom - frame.top;
    WindowImage image = {{sizeof(BITMAPINFOHEADER), width, height, 1, 24, BI_RGB, 0, 0, 0, 0, 0}, {}};
    // the window's own DC holds what it painted whenever the display catches up with it
    HDC screen = GetWindowDC(window);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader = image.header;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    if (bitmap && BitBlt(memory, 0, 0, width, height, screen, 0, 0, SRCCOPY)) {
        GdiFlush();
        const uint8_t* first = static_cast<const uint8_t*>(bits);
        image.rows.assign(first, first + ((width * 3 + 3) & ~3) * height);
    }
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(window, screen);
    return image;
}
