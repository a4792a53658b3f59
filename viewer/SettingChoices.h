// The menu choices of the viewer's settings, and the snapping of any stored value onto one of
// them. Pure code: no window or kernel calls.
#pragma once
#include <cstddef>
#include <cstdint>

const int32_t UnlimitedBufferSize = -1;

extern const int32_t BufferSizeChoices[4];       // characters; below 0 means unlimited
extern const int32_t UpdateIntervalChoices[3];   // milliseconds
extern const int32_t BacklogSizeChoices[3];      // bytes

int32_t NormaliseBufferSize(int32_t value);
int32_t NormaliseUpdateInterval(int32_t value);
int32_t NormaliseBacklogSize(int32_t value);

// The part of a hint for the status bar: what follows the first "|", or the whole hint.
const char* LongHintOf(const char* hint);
