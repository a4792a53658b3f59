// What one record of the traced process becomes: its lines (the record's text, and at High its
// bytes as text lines or a hex dump, chosen per socket), and what it adds to the counters. The
// viewer and kestrixrun both render through here, so their log files hold the same lines.
// No window code.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "RecordReader.h"
#include "SocketModes.h"

enum TraceCounter {
    CounterSocketsCreated,   // amount 1; the sockets open grow by one too
    CounterSocketsClosed,    // amount 1; the sockets open shrink by one
    CounterBytesReceived,
    CounterBytesSent,
};

// Where a rendered record goes. Line and HexDump return false when they could not keep what
// they were given; the rendering then stops and returns false.
class RecordSink {
public:
    // One line of a LineKind, without its line end. A forced line is shown even when the
    // program keeps only its log file.
    virtual bool Line(int32_t kind, const char* text, size_t length, bool forced) = 0;
    // The hex dump of data[from..count), a data line of its own.
    virtual bool HexDump(const uint8_t* data, size_t count, size_t from) = 0;
    virtual void Count(TraceCounter counter, uint32_t amount) = 0;
    // Memory ran out: true when the sink freed some and the allocation is worth trying again.
    virtual bool MakeRoom() { return false; }

protected:
    ~RecordSink() = default;
};

struct RenderSettings {
    int32_t detail;   // 0 Low, 1 Medium, 2 High, as the control block carries it
    bool hexOnly;     // every socket's data as hex dumps
};

// A record checked against the message it came in, its text ending in a NUL.
struct ReceivedRecord {
    RecordView view;
    const char* text = nullptr;   // null when the record has none
    std::string textCopy;         // holds a text that the message's end cut off
};

// Any local process can send a record: one whose sizes do not fit its message is refused (false)
// before anything reads it. May throw std::bad_alloc.
bool ReceiveRecord(const void* data, uint32_t size, ReceivedRecord& record);

// Renders the record into the sink; false when the sink or an allocation failed.
bool RenderRecord(const ReceivedRecord& record, const RenderSettings& settings, SocketModes& sockets,
                  RecordSink& sink);
