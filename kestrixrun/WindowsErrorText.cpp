#include "WindowsErrorText.h"

#include <cstdio>

std::string WindowsErrorText(DWORD error)
{
    char text[512] = "";
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                                  text, sizeof text, nullptr);
    while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n' || text[length - 1] == ' '))
        text[--length] = 0;
    if (length == 0)
        snprintf(text, sizeof text, "error %lu", static_cast<unsigned long>(error));
    return text;
}
