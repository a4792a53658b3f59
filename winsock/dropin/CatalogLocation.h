// Where the catalog is stored in the registry of the prefix: one binary value under HKLM.
// Shared by the drop-in, the catalog tool (which can remove a damaged value) and the tests.
#pragma once

inline constexpr const wchar_t* catalogKeyName = L"Software\\WS2Layer";
inline constexpr const wchar_t* catalogValueName = L"Protocol_Catalog";
