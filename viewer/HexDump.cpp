#include "HexDump.h"

namespace {

const char HexDigits[] = "0123456789ABCDEF";

size_t OffsetDigits(uint32_t offset)
{
    size_t digits = 4;
    for (uint32_t rest = offset >> 16; rest != 0; rest >>= 4)
        digits++;
    return digits;
}

char PrintableOrDot(uint8_t byte)
{
    return byte >= 0x20 && byte <= 0x7E ? char(byte) : '.';
}

}  // namespace

size_t HexRowLength(uint32_t offset)
{
    // offset and space, 16 times " XX", the gap between the halves, two spaces, 16 characters
    return OffsetDigits(offset) + 1 + 16 * 3 + 1 + 2 + 16;
}

size_t FormatHexRow(const uint8_t* bytes, size_t count, uint32_t offset, char* out)
{
    char* p = out;
    for (size_t digit = OffsetDigits(offset); digit-- > 0;)
        *p++ = HexDigits[(offset >> (digit * 4)) & 0xF];
    *p++ = ' ';
    for (size_t i = 0; i < HexRowBytes; i++) {
        if (i == 8)
            *p++ = ' ';
        *p++ = ' ';
        if (i < count) {
            *p++ = HexDigits[bytes[i] >> 4];
            *p++ = HexDigits[bytes[i] & 0xF];
        } else {
            *p++ = ' ';
            *p++ = ' ';
        }
    }
    *p++ = ' ';
    *p++ = ' ';
    for (size_t i = 0; i < HexRowBytes; i++)
        *p++ = i < count ? PrintableOrDot(bytes[i]) : ' ';
    return size_t(p - out);
}

size_t HexDumpLength(size_t count, size_t from)
{
    size_t length = 0;
    for (size_t offset = from; offset < count; offset += HexRowBytes)
        length += HexRowLength(uint32_t(offset)) + 2;
    return length;
}

size_t FormatHexDump(const uint8_t* data, size_t count, size_t from, char* out)
{
    char* p = out;
    for (size_t offset = from; offset < count; offset += HexRowBytes) {
        size_t rowBytes = count - offset < HexRowBytes ? count - offset : HexRowBytes;
        p += FormatHexRow(data + offset, rowBytes, uint32_t(offset), p);
        *p++ = '\r';
        *p++ = '\n';
    }
    return size_t(p - out);
}
