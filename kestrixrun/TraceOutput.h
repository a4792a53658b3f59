// Where kestrixrun writes a trace: a file or standard output, as the viewer's text or HTML log
// file, as JSON lines, or as a pcapng file.
#pragma once
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "Arguments.h"
#include "LogWriter.h"
#include "RecordRendering.h"
#include "SocketModes.h"
#include "TraceRecord.h"

class PcapngTrace;

enum class OutputResult {
    Kept,
    OutOfMemory,
    WriteFailed,   // the file could not take the bytes: WriteFailure() says why
};

class TraceOutput {
public:
    TraceOutput();
    ~TraceOutput();

    // Opens the output the options name; false when the file cannot be created, with
    // WriteFailure() saying why for a pcapng file. startMicroseconds: the capture's start, since
    // 1970-01-01 UTC, which record times count from.
    bool Open(const RunOptions& options, uint64_t startMicroseconds);
    OutputResult Record(const ReceivedRecord& record, DWORD processId, double seconds);
    // A line of the capture's own (StatusLine or ErrorLine), such as the viewer writes; a pcapng
    // file has no place for one, so its error lines go to standard error.
    void CaptureLine(const char* text, int32_t kind, double seconds);
    // Writes what is still held; false when that failed.
    bool Close();
    // "cannot write FILE: the system's text", after a pcapng open or write failed.
    const std::string& WriteFailure() const { return failure; }

private:
    void WriteJson(const std::string& line);
    bool WritePcapng(const std::string& bytes);
    void KeepWriteFailure(DWORD error);

    RenderSettings settings = {2, false};
    TraceFormat format = TraceFormat::Text;
    LogWriter* log = nullptr;   // text and HTML
    FILE* json = nullptr;       // JSON lines
    bool ownsJson = false;
    HANDLE pcapngFile = INVALID_HANDLE_VALUE;
    std::unique_ptr<PcapngTrace> pcapng;
    std::string pcapngBytes;    // kept for its capacity
    std::string outputName, failure;
    SocketModes sockets;
};
