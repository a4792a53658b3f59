// Hex dump rows: "%04X " offset, two halves of eight " %02X", the printable characters.
// Pure text code: no window or kernel calls.
#pragma once
#include <cstddef>
#include <cstdint>

const size_t HexRowBytes = 16;

// Characters of one row without its CR LF: 72 for offsets below 0x10000, more for higher ones.
size_t HexRowLength(uint32_t offset);

// Writes the row for bytes[0..count) (count at most 16) at offset into out, without CR LF and
// without a NUL; returns the characters written (HexRowLength(offset)).
size_t FormatHexRow(const uint8_t* bytes, size_t count, uint32_t offset, char* out);

// Characters of the dump of data[from..count), every row followed by CR LF.
size_t HexDumpLength(size_t count, size_t from);

// Writes that dump into out (HexDumpLength characters, no NUL); returns the characters written.
size_t FormatHexDump(const uint8_t* data, size_t count, size_t from, char* out);
