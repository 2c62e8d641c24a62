#pragma once
// The string hash of the name tables; its table also feeds the sealed-file cipher.

#include <cstdint>

// Entry `index` of the fixed 256-entry table, a signed 16-bit value sign-extended to 32 bits.
uint32_t HashTableEntry(uint8_t index);

// h = ((h >> 15) + h * 2) ^ table[c] for each byte c of the NUL-terminated name.
uint32_t HashString(const char* name, uint32_t seed);
