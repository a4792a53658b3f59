// Where kestrixrun writes a trace: a file or standard output, as the viewer's text or HTML log
// file, or as JSON lines.
#pragma once
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "Arguments.h"
#include "LogWriter.h"
#include "RecordRendering.h"
#include "SocketModes.h"

class TraceOutput {
public:
    // Opens the output the options name; false when the file cannot be created.
    bool Open(const RunOptions& options);
    // False when memory ran out on the record's way.
    bool Record(const ReceivedRecord& record, DWORD processId, double seconds);
    // A line of the capture's own (StatusLine or ErrorLine), such as the viewer writes.
    void CaptureLine(const char* text, int32_t kind, double seconds);
    void Close();

private:
    void WriteJson(const std::string& line);

    RenderSettings settings = {2, false};
    TraceFormat format = TraceFormat::Text;
    LogWriter* log = nullptr;   // text and HTML
    FILE* json = nullptr;       // JSON lines
    bool ownsJson = false;
    SocketModes sockets;
};
