// The kinds of line the viewer shows. A kind is the colour of its line (0x00BBGGRR) and picks the
// line's class in an HTML log file.
#pragma once
#include <cstdint>

enum LineKind : int32_t {
    StatusLine = 0x008000,    // green
    MessageLine = 0x800000,   // navy
    DataLine = 0x000000,      // black
    ErrorLine = 0x000080,     // maroon
};

// No span is open in an HTML log file.
const int32_t NoSpanKind = 0xFFFFFF;
