// Splitting transferred bytes into readable lines, and the HTTP request line test.
// Pure text code: no window or kernel calls.
#pragma once
#include <cstddef>
#include <cstdint>

// Receives one line (without its line end); returns false when it cannot keep it.
using TextLineSink = bool (*)(void* context, const char* text, size_t length);

struct TextScan {
    int32_t consumed;   // bytes taken as lines; -1 when the sink failed
    bool incomplete;    // the data ended inside the last line handed to the sink
};

// Text bytes are 0x20-0x7E and TAB. A line ends at LF or CR LF. The scan stops before the line
// holding any other byte, or a CR followed by something other than LF. Data that ends inside a
// line (or right after a CR) hands that line on too, without the CR, and marks it incomplete.
TextScan ScanTextLines(const uint8_t* data, size_t count, TextLineSink sink, void* context);

// True for a line (its text with CR LF) of at least 10 characters whose last 10 begin with
// "HTTP/1.": a request line ends in its protocol version.
bool IsHttpRequestLine(const char* text, size_t length);

// True when the line begins with "HTTP/1.", as a response's status line does.
bool IsHttpStatusLine(const char* text, size_t length);
