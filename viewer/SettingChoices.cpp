#include "SettingChoices.h"

#include <cstring>

const int32_t BufferSizeChoices[4] = {32768, 131072, 524288, 2097152};
const int32_t UpdateIntervalChoices[3] = {70, 125, 225};
const int32_t BacklogSizeChoices[3] = {1048576, 4194304, 10485760};

namespace {

// The smallest choice at or above the value, or the largest choice.
template <size_t N>
int32_t SnapUp(int32_t value, const int32_t (&choices)[N])
{
    for (int32_t choice : choices)
        if (value <= choice)
            return choice;
    return choices[N - 1];
}

}  // namespace

int32_t NormaliseBufferSize(int32_t value)
{
    return value < 0 ? UnlimitedBufferSize : SnapUp(value, BufferSizeChoices);
}

int32_t NormaliseUpdateInterval(int32_t value)
{
    return SnapUp(value, UpdateIntervalChoices);
}

int32_t NormaliseBacklogSize(int32_t value)
{
    return SnapUp(value, BacklogSizeChoices);
}

const char* LongHintOf(const char* hint)
{
    const char* bar = strchr(hint, '|');
    return bar ? bar + 1 : hint;
}
