#include "TraceOutput.h"

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <new>
#include <vector>

#include "Architecture.h"
#include "CaptureLines.h"
#include "HexDump.h"
#include "JsonLines.h"
#include "LineKind.h"
#include "LogRecord.h"
#include "PacketComments.h"
#include "PcapngTrace.h"
#include "WindowsErrorText.h"

namespace {

// The lines of a record, straight into the log writer.
class LogSink final : public RecordSink {
public:
    explicit LogSink(LogWriter& log) : log(log) {}
    bool Line(int32_t kind, const char* text, size_t length, bool) override
    {
        WriteLogLine(log, text, length, kind);
        return true;
    }
    bool HexDump(const uint8_t* data, size_t count, size_t from) override
    {
        std::string dump(HexDumpLength(count, from), '\0');
        FormatHexDump(data, count, from, dump.data());
        WriteLogText(log, dump.data(), dump.size(), DataLine);
        return true;
    }
    void Count(TraceCounter, uint32_t) override {}

private:
    LogWriter& log;
};

// Record texts are in the ANSI code page; JSON is UTF-8.
std::string Utf8Of(const char* text, size_t length)
{
    if (length == 0)
        return "";
    int wideLength = MultiByteToWideChar(CP_ACP, 0, text, int(length), nullptr, 0);
    std::vector<wchar_t> wide(size_t(wideLength) + 1);
    MultiByteToWideChar(CP_ACP, 0, text, int(length), wide.data(), wideLength);
    int utf8Length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLength, nullptr, 0, nullptr, nullptr);
    std::string utf8(size_t(utf8Length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLength, utf8.data(), utf8Length, nullptr, nullptr);
    return utf8;
}

// A trace on standard output keeps its bytes: no LF turned into CR LF.
FILE* BinaryStandardOutput()
{
    _setmode(_fileno(stdout), _O_BINARY);
    return stdout;
}

const char WriteFailureFormat[] = "cannot write %s: %s";

// What both the JSON and the pcapng writer take of a record.
TraceRecord TraceRecordOf(const ReceivedRecord& record, DWORD processId, double seconds, const std::string& utf8)
{
    const RecordView& view = record.view;
    TraceRecord line;
    line.seconds = seconds;
    line.processId = processId;
    line.kind = TraceKindOf(view.payloadLength, view.kind);
    bool carriesSocket =
        view.payloadLength >= SocketPayloadSize && view.kind >= RecordSocketCreated && view.kind <= RecordDataReceived;
    if (carriesSocket) {
        line.hasSocket = true;
        line.socket = RecordWord(view, 1);
    }
    bool carriesData = carriesSocket && view.kind >= RecordDataSent;
    if (carriesData) {
        line.hasCount = true;
        line.count = RecordWord(view, 2);
        // transmitted file data is counted but not carried
        size_t present = view.payloadLength - DataHeaderSize;
        if (present > 0) {
            line.data = view.payload + DataHeaderSize;
            line.dataLength = present < line.count ? present : line.count;
        }
    }
    if (record.text) {
        line.text = utf8.c_str();
        line.textLength = utf8.size();
    }
    return line;
}

}  // namespace

TraceOutput::TraceOutput() = default;
TraceOutput::~TraceOutput() = default;

bool TraceOutput::Open(const RunOptions& options, uint64_t startMicroseconds)
{
    settings = {options.detail, options.hexOnly};
    format = options.format;
    outputName = options.output;
    if (format == TraceFormat::Pcapng) {
        pcapngFile = CreateFileA(options.output.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
        if (pcapngFile == INVALID_HANDLE_VALUE) {
            KeepWriteFailure(GetLastError());
            return false;
        }
        pcapng = std::make_unique<PcapngTrace>(startMicroseconds, ApplicationText(KESTRIX_VERSION, KESTRIX_BITNESS));
        return true;
    }
    if (format == TraceFormat::JsonLines) {
        ownsJson = !options.output.empty();
        json = ownsJson ? fopen(options.output.c_str(), "wb") : BinaryStandardOutput();
        return json != nullptr;
    }
    bool html = format == TraceFormat::Html;
    log = options.output.empty() ? OpenLogWriter(BinaryStandardOutput(), html)
                                 : CreateLogWriter(options.output.c_str(), html);
    return log != nullptr;
}

OutputResult TraceOutput::Record(const ReceivedRecord& record, DWORD processId, double seconds)
{
    try {
        if (log) {
            LogSink sink(*log);
            return RenderRecord(record, settings, sockets, sink) ? OutputResult::Kept : OutputResult::OutOfMemory;
        }
        std::string text = record.text ? Utf8Of(record.text, strlen(record.text)) : std::string();
        TraceRecord line = TraceRecordOf(record, processId, seconds, text);
        if (pcapng) {
            pcapngBytes.clear();
            pcapng->Record(line, pcapngBytes);
            return WritePcapng(pcapngBytes) ? OutputResult::Kept : OutputResult::WriteFailed;
        }
        WriteJson(JsonLineOf(line));
        return OutputResult::Kept;
    } catch (const std::bad_alloc&) {
        return OutputResult::OutOfMemory;
    }
}

// Writes the bytes whole; on a failure keeps the system's text of it.
bool TraceOutput::WritePcapng(const std::string& bytes)
{
    for (size_t done = 0; done < bytes.size();) {
        DWORD written = 0;
        DWORD chunk = DWORD(std::min(bytes.size() - done, size_t(1) << 30));
        if (!WriteFile(pcapngFile, bytes.data() + done, chunk, &written, nullptr) || written == 0) {
            KeepWriteFailure(written == 0 && GetLastError() == ERROR_SUCCESS ? DWORD(ERROR_DISK_FULL) : GetLastError());
            return false;
        }
        done += written;
    }
    return true;
}

void TraceOutput::KeepWriteFailure(DWORD error)
{
    char text[1024];
    snprintf(text, sizeof text, WriteFailureFormat, outputName.c_str(), WindowsErrorText(error).c_str());
    failure = text;
}

void TraceOutput::CaptureLine(const char* text, int32_t kind, double seconds)
{
    if (log) {
        WriteLogLine(*log, text, strlen(text), kind);
        return;
    }
    if (pcapng) {
        if (kind == ErrorLine)
            fprintf(stderr, "kestrixrun: %s\n", text);
        return;
    }
    if (!json)
        return;
    TraceRecord line;
    line.seconds = seconds;
    line.kind = kind == ErrorLine ? TraceKind::Error : TraceKind::Status;
    line.text = text;
    line.textLength = strlen(text);
    WriteJson(JsonLineOf(line));
}

void TraceOutput::WriteJson(const std::string& line)
{
    fwrite(line.data(), 1, line.size(), json);
    fflush(json);
}

bool TraceOutput::Close()
{
    bool written = true;
    CloseLogWriter(log);
    log = nullptr;
    if (json) {
        if (ownsJson)
            fclose(json);
        else
            fflush(json);
        json = nullptr;
    }
    if (pcapng) {
        try {
            pcapngBytes.clear();
            pcapng->Finish(pcapngBytes);
            written = WritePcapng(pcapngBytes);
        } catch (const std::bad_alloc&) {
            written = false;
            failure = OutOfMemoryText;
        }
        pcapng.reset();
    }
    if (pcapngFile != INVALID_HANDLE_VALUE) {
        CloseHandle(pcapngFile);
        pcapngFile = INVALID_HANDLE_VALUE;
    }
    FreeTrackedSockets(sockets);
    return written;
}
