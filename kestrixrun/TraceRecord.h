// One record of a trace as kestrixrun's writers take it (JSON lines, pcapng): its kind, its
// socket and count where it has them, its text in UTF-8, and the bytes it carries. Also the
// lines of the capture's own. Pure data: no window or kernel calls.
#pragma once
#include <cstddef>
#include <cstdint>

enum class TraceKind {
    ProcessAttached,
    SocketCreated,
    SocketClosed,
    DataSent,
    DataReceived,
    ProcessDetached,
    Message,   // a record that carries only text, or of a kind this program does not know
    Status,    // lines of the capture's own
    Error,
};

// The kind of a record whose payload has payloadLength bytes and begins with kind.
TraceKind TraceKindOf(uint32_t payloadLength, uint32_t kind);

struct TraceRecord {
    double seconds = 0;            // arrival, since the capture started
    uint32_t processId = 0;        // 0: a line of the capture's own, which names no process
    TraceKind kind = TraceKind::Message;
    bool hasSocket = false;
    uint32_t socket = 0;
    bool hasCount = false;
    uint32_t count = 0;            // bytes the call moved
    const char* text = nullptr;    // UTF-8; null when the record has none
    size_t textLength = 0;
    const uint8_t* data = nullptr; // the bytes the record carries; none below High
    size_t dataLength = 0;
};
