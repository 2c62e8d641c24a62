#pragma once
// Load flags and the result codes of a load that are the system's own.

#include <cstdint>

inline constexpr int32_t LF_GRAYSCALE = 0x01;
inline constexpr int32_t LF_QUANTIZE = 0x02;
inline constexpr int32_t LF_SCALE = 0x04;
inline constexpr int32_t LF_SCALE_BACK = 0x08;
inline constexpr int32_t LF_NO_QUANTIZE = 0x40;
inline constexpr int32_t LF_COLORMAP = 0x80;
inline constexpr int32_t LF_FIXED_PALETTE = 0x100;
inline constexpr int32_t LF_SNAP_PALETTE = 0x200;

// What thumbnail production asks for: 24-bit colour at full size.
inline constexpr int32_t kThumbnailLoadFlags = 88;

inline constexpr int32_t kLoadOk = 0;
inline constexpr int32_t kLoadEmptyImage = 39;        // zero width or height
inline constexpr int32_t kLoadPrematureEnd = 40;      // file ended while the reader needed bytes
inline constexpr int32_t kLoadSealRejected = 118;     // sealed file without the right key
inline constexpr int32_t kLoadCannotOpen = 119;       // file cannot be opened (or is no regular file)
inline constexpr int32_t kLoadNoPixelMemory = 250;    // pixel memory over the cap or not to be had
inline constexpr int32_t kLoadPathTooLong = 251;      // path of 256 characters or more
