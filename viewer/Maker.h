// Who makes Kestrix and where its home page is.
#pragma once

inline constexpr char MakerName[] = "Quenmoor Software";
inline constexpr char MakerHomePage[] = "https://kestrix.quenmoor.example/";
