#pragma once
// Product-wide constants.

inline constexpr const char* kProductName = "Vellumcast";
inline constexpr const char* kProductVersion = "1.4";
// The product's home page: the window's panel, its click handler and the default footer.
inline constexpr const char* kHomePageAddress = "https://vellumcast.korvane.example/";
