#include "RecordReader.h"
#include "LogRecord.h"
#include <cstring>

namespace {

// The payload a kind needs before its words may be read.
DWORD MinimumPayload(DWORD kind)
{
    switch (kind) {
    case RecordSocketCreated:
    case RecordSocketClosed:
        return SocketPayloadSize;
    case RecordDataSent:
    case RecordDataReceived:
        return DataHeaderSize;
    default:
        return KindPayloadSize;
    }
}

}  // namespace

RecordCheck ReadRecord(const void* data, DWORD size, RecordView& view)
{
    view = {};
    if (!data || size < RecordLengthSize)
        return RecordCheck::TooShort;
    const BYTE* bytes = static_cast<const BYTE*>(data);
    DWORD n;
    memcpy(&n, bytes, sizeof n);
    if (n > size - RecordLengthSize)
        return RecordCheck::PayloadOutside;
    view.payloadLength = n;
    view.payload = bytes + RecordLengthSize;
    if (n >= KindPayloadSize) {
        memcpy(&view.kind, view.payload, sizeof view.kind);
        if (n < MinimumPayload(view.kind))
            return RecordCheck::PayloadTooShort;
    }
    DWORD textOffset = RecordLengthSize + n;
    if (size > textOffset) {
        view.text = reinterpret_cast<const char*>(bytes + textOffset);
        const void* end = memchr(view.text, 0, size - textOffset);
        view.textLength = end ? static_cast<DWORD>(static_cast<const char*>(end) - view.text) : size - textOffset;
    }
    return RecordCheck::Valid;
}

DWORD RecordWord(const RecordView& view, int index)
{
    DWORD word;
    memcpy(&word, view.payload + index * sizeof(DWORD), sizeof word);
    return word;
}
