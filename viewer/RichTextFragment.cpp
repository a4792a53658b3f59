#include "RichTextFragment.h"

#include <cstdio>
#include <cstring>

namespace {

const int MostColours = 16;
const size_t HeaderRoom = 64 + MostColours * 32;   // the header and its colour table
const size_t BatchRoom = 8;                         // "\cf16 " where a batch changes colour
const size_t CharacterRoom = 5;                     // "\tab ", "\par\n", "\'e9"

// Writes into out while room lasts; keeps count of what it could not write.
struct Writer {
    char* out;
    size_t capacity;
    size_t length = 0;
    bool overflowed = false;

    void Put(const char* text, size_t count)
    {
        if (length + count > capacity) {
            overflowed = true;
            return;
        }
        memcpy(out + length, text, count);
        length += count;
    }
    void Put(const char* text) { Put(text, strlen(text)); }
};

// False when the byte has no RTF form that a plain insertion would match.
bool PutCharacter(Writer& writer, unsigned char c)
{
    static const char hex[] = "0123456789abcdef";
    if (c == '\r') {
        writer.Put("\\par\n");   // the plain text has a CR only before its LF
    } else if (c == '\n') {
    } else if (c == '\t') {
        writer.Put("\\tab ");
    } else if (c < 0x20) {
        return false;
    } else if (c == '\\' || c == '{' || c == '}') {
        char escaped[2] = {'\\', char(c)};
        writer.Put(escaped, 2);
    } else if (c >= 0x80) {
        char escaped[4] = {'\\', '\'', hex[c >> 4], hex[c & 15]};
        writer.Put(escaped, 4);
    } else {
        char plain = char(c);
        writer.Put(&plain, 1);
    }
    return true;
}

}  // namespace

size_t RichTextCapacity(const ShownBatch* from, int32_t offset)
{
    size_t room = HeaderRoom;
    for (; from; from = from->Next, offset = 0)
        room += BatchRoom + CharacterRoom * size_t(from->Length - offset);
    return room;
}

size_t WriteRichText(const ShownBatch* from, int32_t offset, unsigned codePage, char* out, size_t capacity)
{
    uint32_t colours[MostColours];
    int colourCount = 0;
    for (const ShownBatch* batch = from; batch; batch = batch->Next) {
        int known = 0;
        while (known < colourCount && colours[known] != batch->Colour)
            known++;
        if (known == colourCount) {
            if (colourCount == MostColours)
                return 0;
            colours[colourCount++] = batch->Colour;
        }
    }
    Writer writer = {out, capacity};
    char text[64];
    snprintf(text, sizeof text, "{\\rtf1\\ansi\\ansicpg%u{\\colortbl;", codePage);
    writer.Put(text);
    for (int i = 0; i < colourCount; i++) {
        uint32_t c = colours[i];   // a COLORREF: 0x00BBGGRR
        snprintf(text, sizeof text, "\\red%u\\green%u\\blue%u;", c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
        writer.Put(text);
    }
    writer.Put("}");
    int colour = -1;
    for (const ShownBatch* batch = from; batch; batch = batch->Next, offset = 0) {
        int index = 0;
        while (colours[index] != batch->Colour)
            index++;
        if (index != colour) {
            snprintf(text, sizeof text, "\\cf%d ", index + 1);   // entry 0 is the automatic colour
            writer.Put(text);
            colour = index;
        }
        for (int32_t i = offset; i < batch->Length; i++) {
            if (!PutCharacter(writer, static_cast<unsigned char>(batch->Text[i])))
                return 0;
        }
    }
    writer.Put("}");
    return writer.overflowed ? 0 : writer.length;
}
