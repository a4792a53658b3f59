#include "LogWriter.h"

#include <cstring>
#include <new>
#include <string>

#include "HtmlLog.h"
#include "LineKind.h"

namespace {

const char LineEnd[] = "\r\n";

void WriteRaw(FILE* file, const char* text, size_t length)
{
    fwrite(text, 1, length, file);
}

void WriteRaw(FILE* file, const char* text)
{
    WriteRaw(file, text, strlen(text));
}

LogWriter* NewWriter(FILE* file, bool html, bool ownsFile)
{
    auto* writer = new LogWriter{file, html, ownsFile, NoSpanKind};
    if (html) {
        for (size_t i = 0; i < HtmlHeaderLineCount; i++) {
            WriteRaw(file, HtmlHeaderLines[i]);
            WriteRaw(file, LineEnd);
        }
        fflush(file);
    }
    return writer;
}

void AppendPiece(LogWriter& writer, std::string& html, const char* text, size_t length, int32_t kind)
{
    if (kind != writer.spanKind) {
        if (writer.spanKind != NoSpanKind)
            html += "</span>";
        writer.spanKind = kind;
        html += "<span class=\"";
        html += HtmlClassOf(kind);
        html += "\">";
    }
    AppendHtmlEscaped(html, text, length);
}

// Writes the pieces, then flushes once: a reader sees each line as soon as it is made.
void WritePieces(LogWriter& writer, const char* text, size_t length, bool lineEnd, int32_t kind)
{
    length = strnlen(text, length);
    if (!writer.isHtml) {
        WriteRaw(writer.file, text, length);
        if (lineEnd)
            WriteRaw(writer.file, LineEnd, 2);
    } else {
        std::string html;
        AppendPiece(writer, html, text, length, kind);
        if (lineEnd)
            AppendPiece(writer, html, LineEnd, 2, kind);
        WriteRaw(writer.file, html.data(), html.size());
    }
    fflush(writer.file);
}

}  // namespace

LogWriter* CreateLogWriter(const char* name, bool html)
{
    FILE* file = fopen(name, "wb");
    if (!file)
        return nullptr;
    try {
        return NewWriter(file, html, true);
    } catch (const std::bad_alloc&) {
        fclose(file);
        throw;
    }
}

LogWriter* OpenLogWriter(FILE* stream, bool html)
{
    return NewWriter(stream, html, false);
}

void WriteLogText(LogWriter& writer, const char* text, size_t length, int32_t kind)
{
    WritePieces(writer, text, length, false, kind);
}

void WriteLogLine(LogWriter& writer, const char* text, size_t length, int32_t kind)
{
    WritePieces(writer, text, length, true, kind);
}

void CloseLogWriter(LogWriter* writer)
{
    if (!writer)
        return;
    if (writer->isHtml) {
        if (writer->spanKind != NoSpanKind)
            WriteRaw(writer->file, "</span>\r\n");
        WriteRaw(writer->file, "</body>\r\n</html>\r\n");
    }
    if (writer->ownsFile)
        fclose(writer->file);
    else
        fflush(writer->file);
    delete writer;
}
