// Counts as the viewer's labels show them: decimal with a comma before every third digit from
// the right ("-1,000", "1,234,567"). Pure text code.
#pragma once
#include <cstdint>
#include <string>

std::string FormatCountText(int32_t value);
