// The provider GUID under which the layered entry is registered and found again.
#pragma once
#include <windows.h>

// {F388AA6E-39C9-4C31-9AF1-41866B21EF03}
inline constexpr GUID LayerProviderId = {
    0xF388AA6E, 0x39C9, 0x4C31, {0x9A, 0xF1, 0x41, 0x86, 0x6B, 0x21, 0xEF, 0x03}};
