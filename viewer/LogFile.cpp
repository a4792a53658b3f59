// The log file: every line of a capture, as an HTML page or as plain text.
#include "Form1.h"

#include <commdlg.h>

#include <cstring>

#include "HtmlLog.h"

bool TForm1::OpenLogFile(const char* name)
{
    if (!name || !*name) {
        LogFile = nullptr;
        return true;
    }
    LogFile = CreateLogWriter(name, IsHtmlFileName(name));
    return LogFile != nullptr;
}

void TForm1::WriteLogText(const char* text, int32_t kind, int32_t length)
{
    if (LogFile)
        ::WriteLogText(*LogFile, text, length < 0 ? strlen(text) : size_t(length), kind);
}

void TForm1::WriteLogLine(const char* text, int32_t kind, int32_t length)
{
    if (LogFile)
        ::WriteLogLine(*LogFile, text, size_t(length), kind);
}

void TForm1::CloseLogFile()
{
    CloseLogWriter(LogFile);
    LogFile = nullptr;
}

void TForm1::Browse()
{
    SetFocus(EditLogFile);
    char name[256] = "";
    GetWindowTextA(EditLogFile, name, sizeof name);
    OPENFILENAMEA dialog = {};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = Handle;
    dialog.lpstrFilter = "Web Pages (*.htm; *.html)\0*.htm;*.html\0Text Files (*.txt)\0*.txt\0All Files (*.*)\0*.*\0";
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = name;
    dialog.nMaxFile = sizeof name;
    dialog.lpstrTitle = "Browse";
    dialog.lpstrDefExt = "txt";
    dialog.Flags = OFN_HIDEREADONLY | OFN_NOREADONLYRETURN | OFN_EXPLORER;
    if (GetSaveFileNameA(&dialog))
        SetWindowTextA(EditLogFile, name);
    SetFocus(EditLogFile);   // back where the user was, whichever way the dialog ended
}
