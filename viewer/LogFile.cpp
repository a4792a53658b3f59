// The log file: every line of a capture, as an HTML page or as plain text.
#include "Form1.h"

#include <commdlg.h>

#include <cstring>
#include <string>

#include "HtmlLog.h"

namespace {

void WriteRaw(FILE* file, const char* text, size_t length)
{
    fwrite(text, 1, length, file);
}

void WriteRaw(FILE* file, const char* text)
{
    WriteRaw(file, text, strlen(text));
}

}  // namespace

bool TForm1::OpenLogFile(const char* name)
{
    if (!name || !*name) {
        LogFile = nullptr;
        return true;
    }
    LogFile = fopen(name, "wb");
    if (!LogFile)
        return false;
    LogIsHtml = IsHtmlFileName(name);
    if (LogIsHtml) {
        CurrentSpanKind = NoSpanKind;
        for (size_t i = 0; i < HtmlHeaderLineCount; i++) {
            WriteRaw(LogFile, HtmlHeaderLines[i]);
            WriteRaw(LogFile, "\r\n");
        }
        fflush(LogFile);
    }
    return true;
}

void TForm1::WriteLogText(const char* text, int32_t kind, int32_t length)
{
    if (!LogFile)
        return;
    size_t count = length < 0 ? strlen(text) : strnlen(text, size_t(length));
    // Every piece is in the file before the viewer goes on, so that a reader sees each line
    // as soon as it is made.
    if (!LogIsHtml) {
        WriteRaw(LogFile, text, count);
        fflush(LogFile);
        return;
    }
    std::string html;
    if (kind != CurrentSpanKind) {
        if (CurrentSpanKind != NoSpanKind)
            html += "</span>";
        CurrentSpanKind = kind;
        html += "<span class=\"";
        html += HtmlClassOf(kind);
        html += "\">";
    }
    AppendHtmlEscaped(html, text, count);
    WriteRaw(LogFile, html.data(), html.size());
    fflush(LogFile);
}

void TForm1::CloseLogFile()
{
    if (!LogFile)
        return;
    if (LogIsHtml) {
        if (CurrentSpanKind != NoSpanKind)
            WriteRaw(LogFile, "</span>\r\n");
        WriteRaw(LogFile, "</body>\r\n</html>\r\n");
        CurrentSpanKind = NoSpanKind;
    }
    fclose(LogFile);
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
