// Checks a record that arrived in a WM_COPYDATA message before anything reads it. Any local
// process can send the viewer such a message, so every size in it is checked against cbData.
#pragma once
#include <windows.h>

struct RecordView {
    DWORD payloadLength;     // n
    const BYTE* payload;     // n bytes
    DWORD kind;              // first payload word; meaningful when payloadLength >= 4
    const char* text;        // null when the record carries no text
    DWORD textLength;        // up to its NUL, or cut at the end of the record
};

enum class RecordCheck {
    Valid,
    TooShort,             // cbData under 4, or no data
    PayloadOutside,       // n runs past cbData
    PayloadTooShort,      // a kind whose words do not all fit in n
};

RecordCheck ReadRecord(const void* data, DWORD size, RecordView& view);

// Payload words after the kind; valid only for a record ReadRecord accepted with that kind.
DWORD RecordWord(const RecordView& view, int index);
