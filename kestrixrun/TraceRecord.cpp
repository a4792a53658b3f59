#include "TraceRecord.h"

#include "LogRecord.h"

namespace {

// The record kinds, in the order of their codes.
const TraceKind RecordKinds[] = {
    TraceKind::ProcessAttached, TraceKind::SocketCreated, TraceKind::SocketClosed,
    TraceKind::DataSent,        TraceKind::DataReceived,  TraceKind::ProcessDetached,
};

}  // namespace

TraceKind TraceKindOf(uint32_t payloadLength, uint32_t kind)
{
    if (payloadLength < KindPayloadSize || kind >= sizeof RecordKinds / sizeof RecordKinds[0])
        return TraceKind::Message;
    return RecordKinds[kind];
}
