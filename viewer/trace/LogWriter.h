// The log file: every line of a capture, as an HTML page or as plain text, each line in the file
// as soon as it is written.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>

struct LogWriter {
    FILE* file;
    bool isHtml;
    bool ownsFile;      // closed with the writer; false for a stream the program was given
    int32_t spanKind;   // the line kind whose span is open in an HTML file, or NoSpanKind
};

// Creates the file name, an HTML page or plain text; null when the file cannot be created.
LogWriter* CreateLogWriter(const char* name, bool html);
// Writes to a stream that stays open after the writer (standard output).
LogWriter* OpenLogWriter(FILE* stream, bool html);

// A piece of a line, or several lines, of a LineKind.
void WriteLogText(LogWriter& writer, const char* text, size_t length, int32_t kind);
// One line and its line end.
void WriteLogLine(LogWriter& writer, const char* text, size_t length, int32_t kind);
// Ends an HTML page and closes the file.
void CloseLogWriter(LogWriter* writer);
