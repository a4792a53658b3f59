#include "CountFormat.h"

#include <cstdio>

std::string FormatCountText(int32_t value)
{
    char digits[16];
    snprintf(digits, sizeof digits, "%d", int(value));
    std::string text = digits;
    int counted = 0;
    for (size_t i = text.size(); i-- > 0;) {
        if (text[i] < '0' || text[i] > '9')
            break;
        if (++counted % 3 == 0 && i > 0 && text[i - 1] >= '0' && text[i - 1] <= '9')
            text.insert(i, 1, ',');
    }
    return text;
}
