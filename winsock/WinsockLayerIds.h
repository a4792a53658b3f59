// Provider GUIDs of the Winsock layer for Wine, shared by the drop-in ws2_32, the base provider,
// the pass-through test layer and the catalog tool.
#pragma once
#include <guiddef.h>

// {6C2B8E6A-5D1F-4E2B-9C3A-2F7B1D0E4A11}: the base TCP/UDP provider (basewsp.dll).
inline constexpr GUID BaseProviderId =
    {0x6c2b8e6a, 0x5d1f, 0x4e2b, {0x9c, 0x3a, 0x2f, 0x7b, 0x1d, 0x0e, 0x4a, 0x11}};

// {1F5E0C3B-8A47-4D2E-B6C1-93A0D7E25F62}: the pass-through layered provider (passlayer.dll).
inline constexpr GUID PassLayerProviderId =
    {0x1f5e0c3b, 0x8a47, 0x4d2e, {0xb6, 0xc1, 0x93, 0xa0, 0xd7, 0xe2, 0x5f, 0x62}};
