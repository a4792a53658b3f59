#include "RecordRendering.h"

#include <cstring>

#include "LineKind.h"
#include "LogRecord.h"
#include "TextLines.h"

namespace {

const char IncompleteSuffix[] = " (Incomplete last line)";

struct FirstLine {
    const char* text = nullptr;
    size_t length = 0;
};

bool KeepFirstLine(void* context, const char* text, size_t length)
{
    auto* first = static_cast<FirstLine*>(context);
    if (!first->text) {
        first->text = text;
        first->length = length;
    }
    return true;
}

bool ForwardDataLine(void* context, const char* text, size_t length)
{
    return static_cast<RecordSink*>(context)->Line(DataLine, text, length, false);
}

// The request line test reads a line with its line end, as the lines are shown.
bool IsRequestLine(const FirstLine& line)
{
    const size_t tailLength = 10;
    if (line.length + 2 < tailLength)
        return false;
    char tail[tailLength];
    memcpy(tail, line.text + line.length - (tailLength - 2), tailLength - 2);
    memcpy(tail + tailLength - 2, "\r\n", 2);
    return IsHttpRequestLine(tail, tailLength);
}

bool MessageText(RecordSink& sink, const char* text, bool forced)
{
    return sink.Line(MessageLine, text, strlen(text), forced);
}

struct TextPart {
    int32_t consumed = 0;     // bytes shown as text lines; the rest as a hex dump
    bool incomplete = false;  // the last of those lines ends with the data
};

// How much of a tracked socket's data stands as text lines. The first data decides the socket's
// mode: binary when it holds no line, text when it is all lines or starts an HTTP request; a text
// socket's later data is shown as lines when it is all lines, or starts with an HTTP status line.
TextPart TextPartOf(TrackedSocket& tracked, const uint8_t* data, int32_t count)
{
    FirstLine first;
    TextScan scan = ScanTextLines(data, size_t(count), KeepFirstLine, &first);
    bool keep;
    if (tracked.Mode == ModeUnknown) {
        if (scan.consumed == 0) {
            tracked.Mode = ModeBinary;
            keep = false;
        } else {
            tracked.IsHttp = IsRequestLine(first);
            keep = tracked.IsHttp || scan.consumed == count;
            tracked.Mode = keep ? ModeText : ModeBinary;
        }
    } else {
        keep = scan.consumed == count ||
               (tracked.IsHttp && first.text && IsHttpStatusLine(first.text, first.length));
    }
    if (!keep)
        return {};
    return {scan.consumed, scan.incomplete};
}

bool RenderData(uint32_t socket, const uint8_t* data, int32_t count, const char* text,
                const RenderSettings& settings, SocketModes& sockets, RecordSink& sink)
{
    if (settings.detail == 0)
        return true;
    if (settings.detail == 1 || !data || count < 0)
        count = 0;
    TrackedSocket* tracked = count > 0 ? FindTrackedSocket(sockets, socket) : nullptr;
    TextPart part;
    if (tracked && tracked->Mode != ModeBinary)
        part = TextPartOf(*tracked, data, count);

    bool added;
    if (part.incomplete) {
        std::string line = std::string(text) + IncompleteSuffix;
        added = sink.Line(MessageLine, line.data(), line.size(), false);
    } else {
        added = MessageText(sink, text, false);
    }
    if (!added)
        return false;
    if (part.consumed > 0 && ScanTextLines(data, size_t(part.consumed), ForwardDataLine, &sink).consumed < 0)
        return false;
    if (part.consumed < count)
        return sink.HexDump(data, size_t(count), size_t(part.consumed));
    return true;
}

}  // namespace

bool ReceiveRecord(const void* data, uint32_t size, ReceivedRecord& record)
{
    record.text = nullptr;
    record.textCopy.clear();
    if (ReadRecord(data, size, record.view) != RecordCheck::Valid)
        return false;
    record.text = record.view.text;
    // a text cut off by the message's end is copied so that it ends in a NUL
    if (record.text && record.text + record.view.textLength == static_cast<const char*>(data) + size) {
        record.textCopy.assign(record.text, record.view.textLength);
        record.text = record.textCopy.c_str();
    }
    return true;
}

bool RenderRecord(const ReceivedRecord& record, const RenderSettings& settings, SocketModes& sockets,
                  RecordSink& sink)
{
    const RecordView& view = record.view;
    const char* text = record.text;
    if (view.payloadLength < KindPayloadSize)
        return !text || MessageText(sink, text, false);
    bool tracking = settings.detail == 2 && !settings.hexOnly;
    switch (view.kind) {
    case RecordProcessAttached:
    case RecordProcessDetached:
        // the provider always names the process; without a text there is nothing to show
        return !text || MessageText(sink, text, true);
    case RecordSocketCreated:
        if (text && !MessageText(sink, text, false))
            return false;
        if (tracking)
            while (!TrackSocket(sockets, RecordWord(view, 1)))
                if (!sink.MakeRoom())
                    return false;
        sink.Count(CounterSocketsCreated, 1);
        return true;
    case RecordSocketClosed:
        if (text && !MessageText(sink, text, false))
            return false;
        if (tracking)
            if (TrackedSocket* entry = FindTrackedSocket(sockets, RecordWord(view, 1)))
                UntrackSocket(sockets, entry);
        sink.Count(CounterSocketsClosed, 1);
        return true;
    case RecordDataSent:
    case RecordDataReceived: {
        DWORD count = RecordWord(view, 2);
        // transmitted file data is counted but not carried: show no more than the record holds
        DWORD present = view.payloadLength - DataHeaderSize;
        int32_t shown = int32_t(count < present ? count : present);
        sink.Count(view.kind == RecordDataSent ? CounterBytesSent : CounterBytesReceived, count);
        return RenderData(RecordWord(view, 1), view.payload + DataHeaderSize, shown, text ? text : "", settings,
                          sockets, sink);
    }
    default:
        return !text || MessageText(sink, text, false);
    }
}
