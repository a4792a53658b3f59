#include "TextLines.h"

#include <cstring>

namespace {

bool IsTextByte(uint8_t byte)
{
    return (byte >= 0x20 && byte <= 0x7E) || byte == '\t';
}

const char HttpVersionPrefix[] = "HTTP/1.";
const size_t HttpVersionPrefixLength = sizeof HttpVersionPrefix - 1;

}  // namespace

TextScan ScanTextLines(const uint8_t* data, size_t count, TextLineSink sink, void* context)
{
    const char* text = reinterpret_cast<const char*>(data);
    size_t lineStart = 0;
    for (size_t i = 0; i < count; i++) {
        uint8_t byte = data[i];
        if (IsTextByte(byte))
            continue;
        size_t lineEnd = i;
        if (byte == '\r') {
            if (i + 1 == count) {
                if (!sink(context, text + lineStart, lineEnd - lineStart))
                    return {-1, false};
                return {int32_t(count), true};
            }
            if (data[i + 1] != '\n')
                return {int32_t(lineStart), false};
            i++;
        } else if (byte != '\n') {
            return {int32_t(lineStart), false};
        }
        if (!sink(context, text + lineStart, lineEnd - lineStart))
            return {-1, false};
        lineStart = i + 1;
    }
    if (lineStart < count) {
        if (!sink(context, text + lineStart, count - lineStart))
            return {-1, false};
        return {int32_t(count), true};
    }
    return {int32_t(count), false};
}

bool IsHttpRequestLine(const char* text, size_t length)
{
    return length >= 10 && memcmp(text + length - 10, HttpVersionPrefix, HttpVersionPrefixLength) == 0;
}

bool IsHttpStatusLine(const char* text, size_t length)
{
    return length >= HttpVersionPrefixLength &&
           memcmp(text, HttpVersionPrefix, HttpVersionPrefixLength) == 0;
}
