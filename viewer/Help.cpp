// Help: the compiled help file when one is installed beside the program, otherwise the user
// guide in a window of the viewer's own; the home page in the default browser. A user who asks
// for help always sees something.
#include "Form1.h"

#include <richedit.h>
#include <shellapi.h>

#include <string>

#include "HelpFiles.h"
#include "Maker.h"
#include "resource.h"

namespace {

std::string ProgramFolder()
{
    char path[MAX_PATH] = "";
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string folder(path, length);
    size_t slash = folder.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : folder.substr(0, slash + 1);
}

bool FileExists(const std::string& path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

DWORD CALLBACK ReadGuide(DWORD_PTR file, LPBYTE buffer, LONG size, LONG* read)
{
    DWORD count = 0;
    BOOL ok = ReadFile(HANDLE(file), buffer, DWORD(size), &count, nullptr);
    *read = LONG(count);
    return ok ? 0 : 1;
}

struct GuideWindow {
    HANDLE file;
};

INT_PTR CALLBACK GuideProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG: {
        auto* guide = reinterpret_cast<GuideWindow*>(lParam);
        EDITSTREAM stream = {DWORD_PTR(guide->file), 0, ReadGuide};
        SendDlgItemMessageA(window, IDC_HELP_TEXT, EM_STREAMIN, SF_RTF, LPARAM(&stream));
        SetFocus(GetDlgItem(window, IDOK));
        return FALSE;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)
            EndDialog(window, IDOK);
        return TRUE;
    default:
        return FALSE;
    }
}

}  // namespace

std::string HelpFilePath()
{
    return ProgramFolder() + HelpFileName;
}

std::string UserGuidePath()
{
    return ProgramFolder() + UserGuideName;
}

HelpOutcome OpenHelpContents(HWND owner)
{
    std::string helpFile = HelpFilePath();
    if (FileExists(helpFile) && WinHelpA(owner, helpFile.c_str(), HELP_FINDER, 0))
        return HelpOutcome::HelpFile;
    std::string guide = UserGuidePath();
    HANDLE file = CreateFileA(guide.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        GuideWindow window = {file};
        INT_PTR shown = DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_HELPGUIDE), owner,
                                        GuideProc, LPARAM(&window));
        CloseHandle(file);
        if (shown != -1 && shown != 0)
            return HelpOutcome::UserGuide;
    }
    std::string text = std::string(HelpMissingText) + "\r\n\r\n" + guide;
    MessageBoxA(owner, text.c_str(), MainWindowCaption, MB_OK | MB_ICONINFORMATION);
    return HelpOutcome::Message;
}

void TForm1::ShowHelpContents()
{
    OpenHelpContents(Handle);
}

void TForm1::ShowHomePage()
{
    auto result = INT_PTR(ShellExecuteA(Handle, "open", MakerHomePage, nullptr, nullptr, SW_SHOWNORMAL));
    if (result <= 32) {
        std::string text = std::string(HomePageFailedText) + "\r\n\r\n" + MakerHomePage;
        MessageBoxA(Handle, text.c_str(), MainWindowCaption, MB_OK | MB_ICONINFORMATION);
    }
}
