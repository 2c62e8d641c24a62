#pragma once
// Strict UTF-8 decoding of names and texts written into pages.

#include <cstddef>
#include <cstdint>

// The code point of the UTF-8 sequence at the start of `text` (of `length`
// bytes, at least 1) and the number of bytes it takes (1 to 4). 0 when the
// bytes there do not start a valid sequence: a stray continuation byte, a
// lead byte without its continuations, an overlong form, a surrogate
// (U+D800..U+DFFF) or a value beyond U+10FFFF.
size_t DecodeUtf8Sequence(const unsigned char* text, size_t length, uint32_t* code_point);
